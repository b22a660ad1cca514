// Saved states in the window: quick slots with their time and picture, loading a state saved
// with other ROM images asks first, resuming where the user left off, and rewind.
#include "host/settings.h"
#include "machine/keyboard.h"
#include "shell/main_window.h"
#include "shell/recording_controller.h"
#include "shell/preferences.h"
#include "cpu/processor.h"
#include "system/recording.h"
#include "system/rewind.h"
#include "system/state.h"
#include "system/system.h"
#include "shell_test_support.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

class ShellStates : public WindowTest {
  protected:
    // Types a line and waits until the screen shows what it printed.
    void Print(const std::string& text) {
        window->Typist()->TypeText(QByteArray::fromStdString("PRINT \"" + text + "\"\r"), "test");
        ASSERT_TRUE(WaitFor([&] { return ScreenLines(text) >= 2; })) << SystemScreenText();
    }
    static int ScreenLines(const std::string& text) {
        const std::string screen = SystemScreenText();
        int n = 0;
        for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1))
            ++n;
        return n;
    }
    std::string Notice() { return window->Status()->NoticeField()->text().toStdString(); }
};

// A quick slot saves the machine and its menu entries then show the time and a picture; loading
// it brings the screen back, and the folder is States/ in the per-user data folder.
TEST_F(ShellStates, QuickSlotsSaveAndLoad) {
    Start();
    QAction* load = window->Action("quickLoad2");
    ASSERT_TRUE(load && window->Action("quickSave2"));
    EXPECT_FALSE(load->isEnabled()) << "nothing saved in the slot yet";
    Print("BEFORE");
    const std::string before = SystemScreenText();
    window->Action("quickSave2")->trigger();
    EXPECT_TRUE(QFileInfo(StateController::StatesFolder() + "/quick-2.lbs").isFile());
    EXPECT_TRUE(StateController::StatesFolder().startsWith(QString::fromStdString(folder.path())));
    EXPECT_NE(Notice().find("Saved"), std::string::npos) << Notice();
    EXPECT_TRUE(load->isEnabled());
    EXPECT_FALSE(load->icon().isNull());
    EXPECT_NE(load->text().indexOf(QDate::currentDate().toString("yyyy-MM-dd")), -1)
        << load->text().toStdString();
    EXPECT_EQ(window->Action("quickLoad3")->icon().isNull(), true);

    Print("AFTER");
    load->trigger();
    EXPECT_NE(Notice().find("Loaded"), std::string::npos) << Notice();
    EXPECT_EQ(SystemScreenText().find("AFTER"), std::string::npos);
    EXPECT_NE(SystemScreenText().find("BEFORE"), std::string::npos);
    // The machine runs on from there: it takes keys again.
    Print("AGAIN");
}

// A state saved while text was being typed types on after loading, shown and cancellable as any
// paste is.
TEST_F(ShellStates, TypingGoesOnFromALoadedState) {
    Start();
    window->Action("pause")->trigger(); // so the text cannot be typed to the end before the save
    ASSERT_TRUE(WaitFor([] { return ProcessorPaused(); }));
    window->Typist()->TypeText("PRINT \"FROM THE STATE\"\r", "test");
    window->Action("quickSave1")->trigger();
    window->Typist()->CancelTyping();
    ASSERT_FALSE(window->Typist()->Typing());
    window->Action("quickLoad1")->trigger();
    EXPECT_TRUE(window->Typist()->Typing());
    EXPECT_TRUE(window->Action("cancelTyping")->isEnabled());
    window->Action("pause")->trigger();
    EXPECT_TRUE(WaitFor([&] { return ScreenLines("FROM THE STATE") >= 2; })) << SystemScreenText();
    EXPECT_TRUE(WaitFor([&] { return !window->Typist()->Typing(); }));
}

// A state saved with other ROM images is loaded only when the user says yes.
TEST_F(ShellStates, OtherRomImagesAskFirst) {
    Start();
    Print("SAVED");
    const QString path = QString::fromStdString(folder.path()) + "/other.lbs";
    ASSERT_TRUE(window->States()->SaveStateTo(path));
    Print("LATER");
    folder.WriteFile("dev_dos.rom", "not the image the state was saved with");
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        bool asked = false;
        OnModal<QMessageBox>([&](QMessageBox* box) {
            asked = box->objectName() == "otherRoms";
            box->done(answer);
        });
        EXPECT_EQ(window->States()->LoadStateFrom(path), answer == QMessageBox::Yes);
        EXPECT_TRUE(asked);
        EXPECT_EQ(SystemScreenText().find("LATER") == std::string::npos,
                  answer == QMessageBox::Yes);
    }
}

// "Resume where I left off": on for a new user, so Quit keeps the machine and the next start goes
// on with it, and says so. A state that cannot be resumed gives a fresh start that says why and
// keeps the file aside; it never asks or stops the start.
TEST_F(ShellStates, ResumeWhereILeftOff) {
    const std::string dev_dos = ReadAll(LUNABRIK_TEST_RUN_DIR "/dev_dos.rom");
    const QString resume = StateController::StatesFolder() + "/resume.lbs";
    const struct {
        const char* what;
        std::function<void()> spoil;
        bool resumed;
        const char* says;
    } cases[] = {
        {"a good state", [] {}, true, "Resumed"},
        {"other ROM images",
         [&] { folder.WriteFile("dev_dos.rom", dev_dos.substr(0, dev_dos.size() - 1) + "\x5A"); },
         false, "other ROM images"},
        {"a damaged state",
         [&] {
             QFile file(resume);
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             file.seek(file.size() / 2);
             file.write("damage");
         },
         false, "cannot be read"},
    };
    for (const auto& c : cases) {
        ClearPreferences();
        folder.WriteFile("dev_dos.rom", dev_dos);
        Start();
        EXPECT_TRUE(window->Action("resume")->isChecked()) << c.what;
        Print("REMEMBER ME");
        window->close();
        window.reset();
        ASSERT_TRUE(QFileInfo(resume).isFile()) << c.what;
        c.spoil();
        bool asked = false; // a question at start would wait for an answer: none may come
        QTimer watch;
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                asked = true;
                modal->close();
            }
        });
        watch.start();
        Start();
        watch.stop();
        EXPECT_EQ(ScreenLines("REMEMBER ME") >= 2, c.resumed) << c.what << "\n"
                                                              << SystemScreenText();
        EXPECT_NE(Notice().find(c.says), std::string::npos) << c.what << ": " << Notice();
        EXPECT_FALSE(asked) << c.what;
        EXPECT_EQ(QFileInfo(StateController::StatesFolder() + "/not-resumed.lbs").isFile(),
                  !c.resumed)
            << c.what;
        Print("RUNS ON"); // the machine takes keys, resumed or fresh
        window.reset();
        QDir(StateController::StatesFolder()).removeRecursively();
    }
    // Turned off, Quit keeps nothing.
    Start();
    window->Action("resume")->trigger();
    EXPECT_FALSE(SavedResume());
    window->close();
    window.reset();
    EXPECT_FALSE(QFileInfo(resume).exists());
}

// Rewind steps back a second of the machine's time per press and leaves it paused there.
TEST_F(ShellStates, RewindStepsBackPaused) {
    Start();
    const uint64_t start = SystemReadCounts().ticks;
    ASSERT_TRUE(WaitFor([&] { return RewindSpanTicks() >= 2 * RewindTicksApart; }, 60000));
    EXPECT_GE(SystemReadCounts().ticks, start);
    window->Action("rewind")->trigger();
    EXPECT_TRUE(SystemPaused());
    EXPECT_TRUE(window->Action("pause")->isChecked());
    const uint64_t first = SystemReadCounts().ticks;
    window->Action("rewind")->trigger();
    const uint64_t second = SystemReadCounts().ticks;
    EXPECT_LT(second, first);
    EXPECT_LT(first - second, 2 * RewindTicksApart); // a second, as near as the window looks
    EXPECT_NE(Notice().find("Rewound"), std::string::npos) << Notice();
    window->Action("pause")->trigger();
    EXPECT_FALSE(SystemPaused());
    EXPECT_TRUE(WaitFor([&] { return SystemReadCounts().ticks > second + 5; }));
}

} // namespace

namespace {

// Machine > Record and Play: a session recorded in the window plays back in it (what was typed
// after the recording is gone again), the entries say how to stop what is under way, and the
// machine runs on afterwards.
TEST_F(ShellStates, RecordAndPlayInTheWindow) {
    Start();
    auto* recordings = static_cast<RecordingController*>(window->findChild<QObject*>("recordings"));
    ASSERT_TRUE(recordings);
    const QString path = QString::fromStdString(folder.path()) + "/s.lbr";
    ASSERT_TRUE(recordings->StartRecording(path)) << Notice();
    EXPECT_EQ(window->Action("record")->text(), "Stop r&ecording");
    EXPECT_FALSE(window->Action("playRecording")->isEnabled());
    Print("RECORDED");
    window->Action("record")->trigger();
    EXPECT_TRUE(QFileInfo(path).isFile()) << Notice();
    EXPECT_TRUE(window->Action("playRecording")->isEnabled());
    Print("LATER");
    ASSERT_TRUE(recordings->Play(path)) << Notice();
    EXPECT_EQ(window->Action("playRecording")->text(), "Stop p&laying");
    ASSERT_TRUE(WaitFor([] { return !SystemPlaying(); }));
    EXPECT_EQ(ScreenLines("RECORDED"), 2) << SystemScreenText();
    EXPECT_EQ(ScreenLines("LATER"), 0) << SystemScreenText();
    Print("AFTER");
}

} // namespace
