// The GUI tests share one QApplication, on the offscreen platform unless told otherwise, with
// Qt's own settings (the file dialog's history) and the per-user data (saved states) in
// folders of their own rather than the user's. Each test starts with no saved states there, so
// no test resumes a machine another one left at its Quit.
#include "system/startup.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class NoStatesLeft : public testing::EmptyTestEventListener {
  public:
    explicit NoStatesLeft(QString folder) : folder_(std::move(folder)) {}
    void OnTestStart(const testing::TestInfo&) override {
        QDir(folder_ + "/lunabrik/States").removeRecursively();
    }

  private:
    QString folder_;
};

} // namespace

int main(int argc, char** argv) {
    SystemPathFromStart(""); // names on command lines are taken from here, as in the program
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config, data;
    if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (data.isValid()) qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    if (data.isValid())
        testing::UnitTest::GetInstance()->listeners().Append(new NoStatesLeft(data.path()));
    return RUN_ALL_TESTS();
}
