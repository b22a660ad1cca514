// The desktop program against what users and other programs leave in its way: FIFOs where files
// are expected, absurd saved window state, files in mixed encodings, a folder name that is not
// UTF-8, a settings file written as text.
#include "host/settings.h"
#include "machine/keyboard.h"
#include "system/system.h"
#include "shell/config_dialog.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/program.h"
#include "shell/typed_file.h"
#include "shell_test_support.h"
#include "test_support.h"
#include "ui_config_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A read that would block on a FIFO ends the test program instead of hanging the suite.
struct AlarmGuard {
    explicit AlarmGuard(unsigned seconds) { alarm(seconds); }
    ~AlarmGuard() { alarm(0); }
};

// A file named to be typed in that is a FIFO, or a link to one, is refused at once with a message;
// nothing waits for a writer.
TEST(ShellReliability, TypedFileThatIsAFifoIsRefusedAtOnce) {
    ScratchFolder folder;
    ASSERT_EQ(mkfifo("prog.bas", 0600), 0);
    ASSERT_EQ(symlink("prog.bas", "link.bas"), 0);
    AlarmGuard guard(20);
    for (const char* name : {"prog.bas", "link.bas"}) {
        QByteArray text;
        QString error;
        EXPECT_FALSE(ReadTextForTyping(name, text, error)) << name;
        EXPECT_TRUE(error.contains(name) && error.contains("not a text file"))
            << error.toStdString();
    }
}

// Text is decoded one character at a time: UTF-8 where it is UTF-8, a byte that is not taken
// alone as Latin-1 and counted. Whole Latin-1 and 7-bit files read as they always did.
TEST(ShellReliability, MixedEncodingIsDecodedPerCharacter) {
    ScratchFolder folder;
    const struct {
        const char* bytes;
        const char* utf8;
        qsizetype latin1;
    } cases[] = {
        {"10 PRINT \"\xC3\xA4pple \xC3\x96l \xC3\xA5\" REM \xE9\n",
         "10 PRINT \"\u00E4pple \u00D6l \u00E5\" REM \u00E9\n", 1},
        {"PRINT \"\xC5\xC4\xD6\"\n", "PRINT \"\u00C5\u00C4\u00D6\"\n", 3},
        {"10 PRINT \"{|}\"\n", "10 PRINT \"{|}\"\n", 0},
        {"\xE2\x82\n\xC3\xA5", "\u00E2\u0082\n\u00E5", 2}, // a cut-off sequence
    };
    for (const auto& c : cases) {
        folder.WriteFile("prog.bas", c.bytes);
        QByteArray text;
        QString error;
        qsizetype latin1 = -1;
        ASSERT_TRUE(ReadTextForTyping("prog.bas", text, error, &latin1)) << error.toStdString();
        EXPECT_EQ(text.toStdString(), c.utf8);
        EXPECT_EQ(latin1, c.latin1) << c.utf8;
    }
}

// The size refusal says the size found and the limit, and a file just over the limit never
// reads as if it were the limit.
TEST(ShellReliability, SizeRefusalSaysSizeAndLimit) {
    ScratchFolder folder;
    const struct {
        qint64 size;
        const char* shows;
    } cases[] = {{TypingFileLimit + 1, "16.1 MB"}, {TypingFileLimit + 1342177, "17.3 MB"}};
    for (const auto& c : cases) {
        folder.WriteFile("big.txt", "");
        std::filesystem::resize_file("big.txt", uintmax_t(c.size));
        QByteArray text;
        QString error;
        EXPECT_FALSE(ReadTextForTyping("big.txt", text, error));
        EXPECT_TRUE(error.contains(QString("(%1; the limit is 16 MB)").arg(c.shows)))
            << error.toStdString();
    }
}

// A FIFO where the preferences file belongs: the defaults, at once, and it stays a FIFO.
TEST(ShellReliability, PreferencesFifoGivesDefaults) {
    ClearPreferences();
    SaveScale(3);
    const QString path = QSettings("Lunabrik", "Lunabrik").fileName();
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    {
        AlarmGuard guard(20);
        EXPECT_EQ(SavedScale(), -1);
        EXPECT_EQ(SavedKeyboardMode(), KeyboardMode::Natural);
        EXPECT_TRUE(SavedGeometry().isEmpty());
        SaveScale(2);
    }
    struct stat st;
    ASSERT_EQ(lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "never replaced";
    unlink(QFile::encodeName(path).constData());
}

class ShellReliabilityWindow : public WindowTest {};

// Saved geometry too large or far away, or a scale whose picture is larger than the screen: the
// window opens inside the screen's available area, and that is what is saved at the end.
TEST_F(ShellReliabilityWindow, SavedGeometryAndScaleAreClampedToTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        QRect saved; // empty: no geometry saved
        int scale;
    } cases[] = {
        {QRect(0, 0, 100000, 100000), 2},
        {QRect(-40000, 70000, 400, 300), 1},
        {QRect(10, 10, screen.width() + 200, screen.height() + 100), 2},
        {QRect(), 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        QByteArray geometry;
        if (!c.saved.isEmpty()) {
            QWidget widget;
            widget.setGeometry(c.saved);
            geometry = widget.saveGeometry();
        }
        SaveWindowState(geometry, false);
        SaveScale(c.scale);
        window = StartLunabrik();
        ASSERT_TRUE(window);
        // Inside the screen, but for the frame a window manager may add around it.
        const auto inside = [&](const QRect& r) {
            return screen.contains(r.topLeft()) && r.width() <= screen.width() &&
                   r.height() <= screen.height();
        };
        EXPECT_TRUE(inside(window->geometry()))
            << window->geometry().x() << "," << window->geometry().y() << " "
            << window->geometry().width() << "x" << window->geometry().height();
        window->close();
        window.reset();
        QWidget check;
        ASSERT_TRUE(check.restoreGeometry(SavedGeometry()));
        EXPECT_TRUE(inside(check.geometry())) << "saved again as it was";
        EXPECT_LE(SavedScale(), 8);
    }
}

// A saved geometry cut short or unreadable counts as none: the window opens at the default size for
// the saved scale, as with no geometry saved at all.
TEST_F(ShellReliabilityWindow, UnreadableGeometryGivesTheDefaultWindowAtTheSavedScale) {
    SaveWindowState(QByteArray(), false);
    SaveScale(2);
    window = StartLunabrik();
    ASSERT_TRUE(window);
    const QSize expected = window->size();
    window->close();
    window.reset();
    QWidget widget;
    widget.setGeometry(QRect(50, 40, 700, 500));
    const QByteArray whole = widget.saveGeometry();
    for (const QByteArray& saved : {whole.left(whole.size() / 2), whole.left(whole.size() - 4),
                                    QByteArray("\x01\xD9\xD0\xCB")}) {
        SCOPED_TRACE(saved.toHex().toStdString());
        SaveWindowState(saved, false);
        SaveScale(2);
        window = StartLunabrik();
        ASSERT_TRUE(window);
        EXPECT_EQ(window->size(), expected);
        window->close();
        window.reset();
    }
}

// With "Resume where I left off" on, a save at Quit that fails asks first: keeping the program
// leaves the window and the machine running; quitting anyway ends it.
TEST_F(ShellReliabilityWindow, AFailedSaveAtQuitAsksBeforeTheMachineIsLost) {
    qputenv("XDG_DATA_HOME", (folder.path() + "/data").c_str());
    ASSERT_TRUE(
        QDir().mkpath(StateController::StatesFolder() + "/resume.lbs")); // a folder: refused
    SaveResume(true);
    Start();
    for (bool quit : {false, true}) {
        SCOPED_TRACE(quit);
        bool asked = false;
        OnModal<QMessageBox>([&](QMessageBox* box) {
            asked = box->objectName() == "resumeSaveFailed";
            box->done(quit ? QMessageBox::Yes : QMessageBox::No);
        });
        window->close();
        EXPECT_TRUE(asked);
        EXPECT_EQ(window->isVisible(), !quit);
        EXPECT_EQ(SystemRunning(), !quit);
    }
    qunsetenv("XDG_DATA_HOME");
}

// Found as a new user would: with no program to open folders, Open files folder shows the folder's
// path in a box; Save screenshot as... adds .png to a name typed without it.
TEST_F(ShellReliabilityWindow, FilesFolderPathAndScreenshotName) {
    Start();
    ASSERT_TRUE(QDir().mkpath("Files"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", folder.path().c_str()); // no xdg-open in it
    window->Action("openFilesFolder")->trigger();
    QMessageBox* box = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        box = window->findChild<QMessageBox*>("filesFolderPath");
        return box && box->isVisible();
    }));
    qputenv("PATH", path);
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->text().contains(QDir::current().absoluteFilePath("Files")))
        << box->text().toStdString();
    box->close();

    OnModal<QFileDialog>([&](QFileDialog* dialog) {
        // The name typed into the dialog's name field, as a user would, then Save.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        dialog->setDirectory(QString::fromStdString(folder.path()));
        name->setText("shot");
        static_cast<QDialog*>(dialog)->accept(); // as the Save button does
    });
    window->Action("saveScreenshotAs")->trigger();
    EXPECT_TRUE(QFile::exists("shot.png"));
    EXPECT_FALSE(QFile::exists("shot"));
}

// Typing a FIFO from the window (command line, F3 and drops all come here) gives the message and
// leaves the window answering; a mixed-encoding file says how many bytes were read as Latin-1.
TEST_F(ShellReliabilityWindow, TypingAFifoOrAMixedFileFromTheWindow) {
    window = StartLunabrik();
    ASSERT_TRUE(window);
    ASSERT_EQ(mkfifo("fifo.bas", 0600), 0);
    QString message;
    OnModal<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    {
        AlarmGuard guard(20);
        EXPECT_FALSE(window->Typist()->TypeFile("fifo.bas"));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !message.isEmpty(); }, 30000));
    EXPECT_TRUE(message.contains("fifo.bas")) << message.toStdString();

    folder.WriteFile("mixed.bas", "REM \xC3\xA4 \xE9 \xF6\n");
    ASSERT_TRUE(window->Typist()->TypeFile("mixed.bas"));
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("2 bytes"))
        << window->Status()->TypingField()->text().toStdString();
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("Latin-1"));
}

// Config > OK with the folder field untouched keeps the folder's bytes exactly, even when they are
// not UTF-8; an edited field is taken.
TEST_F(ShellReliabilityWindow, UntouchedConfigKeepsTheFolderBytes) {
    const char raw[] = "Fil\xE9r/";
    for (bool edit : {false, true}) {
        SetFilesFolder(raw);
        ConfigDialog dialog;
        if (edit) dialog.Widgets().filesFolder->setText("Other/");
        dialog.Ok();
        char folder_now[FilesFolderSize];
        CopyFilesFolder(folder_now);
        EXPECT_STREQ(folder_now, edit ? "Other/" : raw);
        std::string field(edit ? "Other/" : raw);
        field.resize(FilesFolderSize, '\0');
        EXPECT_EQ(folder.ReadFile(SettingsFileName).substr(4), field);
    }
}

// A Lunabrik.cfg written as text makes each tick take far more than a second: the status bar and
// a notice when the window opens say which value came from which file and how to set a speed.
TEST_F(ShellReliabilityWindow, HugeWaitstatesIsNamedWhenTheWindowOpens) {
    folder.WriteFile(SettingsFileName, "waitstates = -1\nfolder = Files/\n");
    QString notice;
    OnModal<QMessageBox>([&](QMessageBox* box) {
        notice = box->text();
        box->accept();
    });
    window = StartLunabrik();
    ASSERT_TRUE(window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notice.isEmpty(); }, 30000));
    EXPECT_EQ(Waitstates(), int32_t(0x74696177)) << "the value is used as read";
    const QString value = QString::number(int32_t(0x74696177));
    const QString file = QDir::current().filePath(SettingsFileName);
    for (const QString& text : {window->Status()->NoticeField()->text(), notice}) {
        EXPECT_TRUE(text.contains(value)) << text.toStdString();
        EXPECT_TRUE(text.contains(file)) << text.toStdString();
        EXPECT_TRUE(text.contains("Config")) << text.toStdString();
    }
    window->close();
    EXPECT_FALSE(window->Emulation()->Running());
}

} // namespace
