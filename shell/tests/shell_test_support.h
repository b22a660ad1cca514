// Helpers shared by the GUI test programs.
#pragma once

#include "host/settings.h"
#include "shell/emulation_driver.h"
#include "shell/main_window.h"
#include "shell/state_controller.h"
#include "shell/status_fields.h"
#include "shell/typing_controller.h"
#include "shell/program.h"
#include "system/pacer.h"
#include "system/system.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

// Runs action on the first modal widget of type W to appear, from inside that widget's own event
// loop; a modal exec() in the test then returns once action has closed it.
template <typename W> void OnModal(std::function<void(W*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start();
}

// Runs the event loop until condition holds, with a limit generous enough for a loaded machine.
// Unlike QTest::qWaitFor it does not sleep between looks, so timers run at their real pace; with
// no machine threads (a bare display) it steps the key pacer itself.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        if (!SystemRunning()) PacerStep();
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline void ClearPreferences() { QSettings("Lunabrik", "Lunabrik").clear(); }

// The window started as the program starts it, in a scratch folder with the free images and no
// saved preferences; Start() returns once the BASIC waits in its line editor.
class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        KeyboardState = {};
        ClearPreferences();
        // States (the one kept for resuming at the next start among them) in the test's own folder.
        data_home_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", (folder.path() + "/data").c_str());
        if (!QFile::exists(LUNABRIK_TEST_RUN_DIR "/basic.rom"))
            GTEST_SKIP() << "the free ROM images are not built";
        for (const char* name : {"basic.rom", "dev_dos.rom", "font.bin"})
            folder.WriteFile(name, ReadAll(std::string(LUNABRIK_TEST_RUN_DIR "/") + name));
    }
    void TearDown() override {
        window.reset();
        ClearPreferences();
        SetWaitstates(0);
        qputenv("XDG_DATA_HOME", data_home_);
    }
    void Start() {
        window = StartLunabrik();
        ASSERT_TRUE(window);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(WaitFor([] { return SystemScreenText().find("READY") != std::string::npos; }));
        // BASIC goes on to its line editor: a few ticks' worth of the machine's own time.
        const uint64_t at = SystemReadCounts().tstates;
        ASSERT_TRUE(WaitFor([&] { return SystemReadCounts().tstates - at >= 5 * 60000u; }));
    }
    ScratchFolder folder;
    std::unique_ptr<MainWindow> window;

  private:
    QByteArray data_home_;
};
