// The GUI tests share one QApplication, on the offscreen platform unless told otherwise, with
// Qt's own settings (the file dialog's history) in a folder of their own rather than the user's.
#include "system/startup.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SystemPathFromStart(""); // names on command lines are taken from here, as in the program
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
