// The desktop program with its three threads: start-up, the display, keys, the buttons, the
// dialogs and the ways it ends. Each test runs in a scratch folder with tiny ROM images of its own.
#include "cpu/cpu_state.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"
#include "shell/config_dialog.h"
#include "shell/display_widget.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/program.h"
#include "system/pacer.h"
#include "shell_test_support.h"
#include "test_support.h"
#include "ui_config_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

namespace {

constexpr uint16_t StartCount = 0x8000; // byte: how often the program started (0 the first time)
constexpr uint16_t TickCount = 0x8001;  // word: NMIs since the last start

// 0000 LD HL,0; LD (8001h),HL          ticks since this start
// 0006 LD A,(8000h); INC A; LD (8000h),A   starts: 0xFF + 1 = 0 the first time, 1 after a reset
// 000D LD A,41h; LD (7C00h),A           "A" in the top-left screen cell
// 0012 HALT; JR 0012h
// 0066 LD HL,(8001h); INC HL; LD (8001h),HL; RETN
std::string CountingRom() {
    std::string rom(0x70, '\0');
    const uint8_t start[] = {0x21, 0x00, 0x00, 0x22, 0x01, 0x80, 0x3A, 0x00, 0x80, 0x3C, 0x32,
                             0x00, 0x80, 0x3E, 0x41, 0x32, 0x00, 0x7C, 0x76, 0x18, 0xFD};
    const uint8_t nmi[] = {0x2A, 0x01, 0x80, 0x23, 0x22, 0x01, 0x80, 0xED, 0x45};
    rom.replace(0, sizeof start, reinterpret_cast<const char*>(start), sizeof start);
    rom.replace(0x66, sizeof nmi, reinterpret_cast<const char*>(nmi), sizeof nmi);
    return rom;
}

// Glyph 0x41 of the text set is a solid 6 x 10 block; every other glyph is blank.
std::string BlockFont() {
    std::string font(FontFileSize, '\0');
    for (int row = 0; row < GlyphRows; ++row)
        font[0x41 * GlyphRows + row] = char(0xFC);
    return font;
}

uint16_t Ticks() {
    return uint16_t(ReadMemoryShared(TickCount) | ReadMemoryShared(TickCount + 1) << 8);
}

void SendKey(QWidget* to, QEvent::Type type, uint32_t set1, Qt::KeyboardModifiers mods = {},
             bool repeat = false) {
    QKeyEvent event(type, Qt::Key_unknown, mods, set1 + 8, 0, 0, QString(), repeat);
    QApplication::sendEvent(to, &event);
}

constexpr uint32_t ScanA = 30, ScanF10 = 68;

class ShellThread : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        KeyboardState = {};
        SaveResume(false); // each start here is a first start, whatever the one before quit
    }
    void TearDown() override { window.reset(); }

    void WriteImages(const std::string& basic, bool font) {
        folder.WriteFile("basic.rom", basic);
        folder.WriteFile("dev_dos.rom", std::string(16, '\0'));
        if (font) folder.WriteFile("font.bin", BlockFont());
    }

    // Start-up as the program does it, then the window made active as a user would find it.
    void Start(const std::string& basic = CountingRom(), bool font = true) {
        WriteImages(basic, font);
        window = StartLunabrik();
        ASSERT_TRUE(window);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    ScratchFolder folder;
    std::unique_ptr<MainWindow> window;
};

// The display in a sunken frame at the top left, the four buttons in a column to its right in
// the order About, Config, Reset, Quit; at the smallest size the places of the minimal window.
TEST_F(ShellThread, MainWindowLayout) {
    Start();
    EXPECT_EQ(window->windowTitle(), "Lunabrik");
    EXPECT_FALSE(window->windowIcon().isNull());
    QWidget* client = window->centralWidget();
    window->resize(window->size() - client->size() + client->minimumSize());
    ASSERT_TRUE(WaitFor([&] { return client->size() == QSize(318, 249); }));
    const struct {
        QPushButton* button;
        const char* text;
        int y;
    } buttons[] = {{window->AboutButton(), "About", 2},
                   {window->ConfigButton(), "Config", 36},
                   {window->ResetButton(), "Reset", 70},
                   {window->QuitButton(), "Quit", 104}};
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->text(), b.text);
        EXPECT_EQ(b.button->geometry(), QRect(250, b.y, 64, 32)) << b.text;
    }
    QWidget* frame = window->Display()->parentWidget();
    EXPECT_EQ(frame->geometry(), QRect(2, 2, 245, 245));
    EXPECT_GE(window->Display()->width(), 240);
    EXPECT_GE(window->Display()->height(), 240);
    EXPECT_EQ(QApplication::focusWidget(), window->Display())
        << "the display has the focus at start";
    // Larger: the frame grows, the buttons stay beside it at the top.
    window->resize(window->size() + QSize(300, 200));
    ASSERT_TRUE(WaitFor([&] { return client->width() == 618; }));
    EXPECT_EQ(frame->geometry(), QRect(2, 2, 545, 445));
    EXPECT_EQ(window->QuitButton()->geometry(), QRect(550, 104, 64, 32));
}

// With font.bin the tick runs: NMIs reach the program and the display shows screen memory. Without
// it the window still works but nothing ticks and the display stays black.
TEST_F(ShellThread, DisplayWithAndWithoutFont) {
    for (bool font : {true, false}) {
        SCOPED_TRACE(font ? "font.bin present" : "font.bin missing");
        ResetMachineForTest();
        std::filesystem::remove("font.bin");
        Start(CountingRom(), font);
        ASSERT_TRUE(WaitFor([] { return ReadMemoryShared(ScreenMemoryAddress) == 0x41; }));
        EXPECT_EQ(window->Emulation()->DisplayRunning(), font);
        if (font) {
            EXPECT_TRUE(WaitFor([] { return Ticks() >= 3; }));
            ASSERT_TRUE(WaitFor(
                [&] { return window->Display()->Picture().pixel(0, 0) == qRgb(255, 255, 255); }));
            // The painted widget, not just the buffer: the block top-left of the picture at its
            // scale, black beside it.
            QImage shown = window->Display()->grab().toImage();
            const QPoint at = window->Display()->PictureRect().topLeft().toPoint();
            const int f = window->Display()->Factor();
            EXPECT_EQ(shown.pixel(at + QPoint(6 * f - 1, 10 * f - 1)), qRgb(255, 255, 255));
            EXPECT_EQ(shown.pixel(at + QPoint(6 * f, 0)), qRgb(0, 0, 0));
            EXPECT_EQ(shown.pixel(at + QPoint(0, 10 * f)), qRgb(0, 0, 0));
        } else {
            const uint64_t withheld = SystemTicksWithheld();
            ASSERT_TRUE(WaitFor([&] { return SystemTicksWithheld() >= withheld + 10; }))
                << "the clock runs on";
            EXPECT_EQ(Ticks(), 0);
            EXPECT_TRUE(ReadControlFlags() & HALTED) << "no tick ends the HALT";
            QImage shown = window->Display()->grab().toImage();
            EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
            // The buttons still work.
            QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
            EXPECT_TRUE(WaitFor([] { return ReadMemoryShared(StartCount) == 1; }));
        }
        QTest::mouseClick(window->QuitButton(), Qt::LeftButton);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->Emulation()->Running());
        window.reset();
    }
}

TEST_F(ShellThread, StartUpReadsTheSettings) {
    SettingsRecord file{};
    file.waitstates = 3;
    std::strcpy(file.files_folder, "Band/");
    folder.WriteFile(SettingsFileName,
                     std::string(reinterpret_cast<const char*>(&file), sizeof file));
    Start();
    EXPECT_EQ(Waitstates(), 3);
    char text[FilesFolderSize];
    CopyFilesFolder(text);
    EXPECT_STREQ(text, "Band/");
}

TEST_F(ShellThread, KeyPressReachesPort56AndRequestsInterrupt) {
    Start();
    DisplayWidget* display = window->Display();
    display->SetKeyboardMode(KeyboardMode::Positional); // the keys as the ROM sees them
    SendKey(display, QEvent::KeyPress, ScanA);
    EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0xE1; }));
    EXPECT_EQ(ReadInterruptBusByte(), 26);
    EXPECT_TRUE(ReadControlFlags() & KEY) << "interrupts are off, so KEY stays pending";
    // The release waits until the machine has shown it will not take the key.
    SendKey(display, QEvent::KeyRelease, ScanA);
    EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0x61; }, 30000));
}

TEST_F(ShellThread, AutoRepeatsAreDropped) {
    Start();
    DisplayWidget* display = window->Display();
    display->SetKeyboardMode(KeyboardMode::Positional); // the keys as the ROM sees them
    // X11 repeats a held key as release and press pairs, other systems as presses alone.
    SendKey(display, QEvent::KeyPress, ScanA);
    for (int i = 0; i < 3; ++i) {
        SendKey(display, QEvent::KeyRelease, ScanA, {}, true);
        SendKey(display, QEvent::KeyPress, ScanA, {}, true);
    }
    for (int i = 0; i < 3; ++i)
        SendKey(display, QEvent::KeyPress, ScanA, {}, true);
    EXPECT_TRUE(WaitFor([] { return PacerKeyboard().held_keys == 1; }));
    EXPECT_EQ(PacerReadStatus().keys_waiting, 0u) << "no repeat was queued";
    SendKey(display, QEvent::KeyRelease, ScanA);
    EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0x61; }, 30000))
        << "one release ends the one press";
    EXPECT_EQ(PacerKeyboard().held_keys, 0);
}

TEST_F(ShellThread, AltCombinationsAndF10StayWithTheDesktop) {
    Start();
    DisplayWidget* display = window->Display();
    display->SetKeyboardMode(KeyboardMode::Positional); // the keys as the ROM sees them
    SendKey(display, QEvent::KeyPress, ScanA, Qt::AltModifier);
    SendKey(display, QEvent::KeyPress, ScanF10);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0);
    EXPECT_EQ(PacerKeyboard().held_keys, 0);
    EXPECT_FALSE(ReadControlFlags() & KEY);
}

TEST_F(ShellThread, FocusLossReleasesTheKeyAndAClickTakesItBack) {
    Start();
    DisplayWidget* display = window->Display();
    display->SetKeyboardMode(KeyboardMode::Positional); // the keys as the ROM sees them
    ASSERT_TRUE(display->hasFocus());
    SendKey(display, QEvent::KeyPress, ScanA);
    ASSERT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0xE1; }));
    // Buttons take no focus; a widget that does (here the About dialog's OK) takes it away from
    // the display: the held key is let go of once the machine has had its chance to take it.
    QPushButton other("elsewhere", window.get());
    other.show();
    other.setFocus();
    EXPECT_FALSE(display->hasFocus());
    EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0x61; }, 30000));
    EXPECT_EQ(PacerKeyboard().held_keys, 0);
    QTest::mouseClick(display, Qt::LeftButton);
    EXPECT_TRUE(display->hasFocus());
}

// Reset acts while the processor sits in HALT with no tick to wake it.
TEST_F(ShellThread, ResetDuringHaltWithoutTicks) {
    Start(CountingRom(), false);
    ASSERT_TRUE(WaitFor([] { return ReadControlFlags() & HALTED; }));
    EXPECT_EQ(ReadMemoryShared(StartCount), 0);
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([] { return ReadMemoryShared(StartCount) == 1; }));
    EXPECT_TRUE(window->Emulation()->Running());
}

// Quit and the close box end the program with exit code 0 whatever the processor is doing: in
// HALT with no tick, or stalled on an opcode that is not executed (ED 77).
TEST_F(ShellThread, QuitAndCloseBoxEndTheProgram) {
    const struct {
        const char* what;
        std::string rom;
        bool close_box;
    } cases[] = {
        {"Quit, HALT", std::string("\x76", 1), false},
        {"Quit, stalled", std::string("\xED\x77", 2), false},
        {"close box, HALT", std::string("\x76", 1), true},
        {"close box, stalled", std::string("\xED\x77", 2), true},
        {"Quit, running with ticks", CountingRom(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachineForTest();
        std::filesystem::remove("font.bin");
        WriteImages(c.rom, c.rom.size() > 2);
        bool closed = false;
        QTimer::singleShot(150, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* main = dynamic_cast<MainWindow*>(w);
                if (!main || !main->isVisible()) continue;
                EXPECT_TRUE(main->Emulation()->Running());
                if (c.close_box)
                    main->close();
                else
                    main->QuitButton()->click();
                EXPECT_FALSE(main->Emulation()->Running());
                closed = true;
            }
        });
        EXPECT_EQ(RunLunabrik(), 0);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(ReadControlFlags() & QUIT);
    }
}

// Config and About are modal while the machine keeps running and ticking.
TEST_F(ShellThread, DialogsAreModalWhileEmulationRuns) {
    Start();
    for (QPushButton* button : {window->ConfigButton(), window->AboutButton()}) {
        SCOPED_TRACE(button->text().toStdString());
        uint16_t ticks_inside = 0;
        QString title;
        OnModal<QDialog>([&](QDialog* dialog) {
            title = dialog->windowTitle();
            EXPECT_TRUE(dialog->isModal());
            uint16_t before = Ticks();
            WaitFor([&] { return uint16_t(Ticks() - before) >= 3; });
            ticks_inside = uint16_t(Ticks() - before);
            dialog->findChild<QPushButton*>("ok")->click();
        });
        button->click(); // returns when the dialog closed
        EXPECT_GE(ticks_inside, 3);
        EXPECT_EQ(title, button == window->AboutButton() ? "About Lunabrik" : "Lunabrik Config");
    }
}

TEST_F(ShellThread, AboutShowsNameVersionAndAuthors) {
    Start();
    QString text;
    bool has_icon = false;
    OnModal<QDialog>([&](QDialog* dialog) {
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            text += label->text();
            has_icon = has_icon || !label->pixmap().isNull();
        }
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    window->AboutButton()->click();
    EXPECT_TRUE(has_icon);
    // The project's version, whatever it is, as numbers and dots.
    const QRegularExpression version(R"(Version (\d+(\.\d+)+)\b)");
    const QRegularExpressionMatch shown = version.match(text);
    ASSERT_TRUE(shown.hasMatch()) << text.toStdString();
    EXPECT_EQ(shown.captured(1), LUNABRIK_VERSION);
    for (const char* words : {"Lunabrik", "ABC80 emulator", "\n\n", "Written by"})
        EXPECT_TRUE(text.contains(words)) << words << " in " << text.toStdString();
}

// Start-up with a ROM image missing: the message names the file and the folder on standard
// error; under the offscreen platform no message box waits for a user nobody can be; no main
// window; exit code 1.
TEST(ShellStartUp, MissingRomImageEndsWithAMessage) {
    for (const char* missing : {"basic.rom", "dev_dos.rom"}) {
        SCOPED_TRACE(missing);
        ResetMachineForTest();
        ScratchFolder folder;
        folder.WriteFile("font.bin", BlockFont());
        if (std::string(missing) != "basic.rom") folder.WriteFile("basic.rom", CountingRom());
        if (std::string(missing) != "dev_dos.rom") folder.WriteFile("dev_dos.rom", "x");
        testing::internal::CaptureStderr();
        int code = RunLunabrik(); // would block for ever on a modal box
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, 1);
        EXPECT_NE(err.find(missing), std::string::npos) << err;
        EXPECT_NE(err.find(folder.path()), std::string::npos) << err;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_EQ(dynamic_cast<MainWindow*>(w), nullptr);
    }
}

// The Config dialog on its own: what the fields show, and what Apply, Cancel and OK put in force
// and in the file.
class ShellConfig : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        ReadSettings(); // no Lunabrik.cfg here: the defaults
    }
    ScratchFolder folder;
};

std::string Folder() {
    char text[FilesFolderSize];
    CopyFilesFolder(text);
    return text;
}

TEST_F(ShellConfig, OpensWithTheSettings) {
    {
        ConfigDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), "Lunabrik Config");
        EXPECT_EQ(dialog.Widgets().waitstates->text(), "0");
        EXPECT_EQ(dialog.Widgets().filesFolder->text(), "Files/");
        EXPECT_TRUE(dialog.Widgets().ok->isDefault());
    }
    SetWaitstates(-25);
    SetFilesFolder("/tmp/x/");
    ConfigDialog dialog;
    EXPECT_EQ(dialog.Widgets().waitstates->text(), "-25");
    EXPECT_EQ(dialog.Widgets().filesFolder->text(), "/tmp/x/");
}

TEST_F(ShellConfig, ApplyTakesTheFieldsAndCancelKeepsThemUnsaved) {
    ConfigDialog dialog;
    dialog.show();
    dialog.Widgets().waitstates->setText("12abc");
    dialog.Widgets().filesFolder->setText("Disk/");
    dialog.Widgets().apply->click();
    EXPECT_EQ(Waitstates(), 12);
    EXPECT_EQ(Folder(), "Disk/");
    EXPECT_TRUE(dialog.isVisible()) << "Apply leaves the dialog open";
    dialog.Widgets().waitstates->setText("99");
    dialog.Widgets().cancel->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Waitstates(), 12) << "Cancel keeps what Apply took, not the later edit";
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName));
}

TEST_F(ShellConfig, OkWritesThe260ByteFile) {
    {
        ConfigDialog dialog; // unchanged: still written
        dialog.show();
        dialog.Widgets().ok->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    std::string file = folder.ReadFile(SettingsFileName);
    ASSERT_EQ(file.size(), 260u);
    EXPECT_EQ(file.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(std::string(file.c_str() + 4), "Files/");

    ConfigDialog dialog;
    dialog.show();
    dialog.Widgets().waitstates->setText(" -300");
    dialog.Widgets().filesFolder->setText("Mapp/");
    QTest::keyClick(dialog.Widgets().filesFolder, Qt::Key_Return); // Enter is OK
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Waitstates(), -300);
    file = folder.ReadFile(SettingsFileName);
    ASSERT_EQ(file.size(), 260u);
    EXPECT_EQ(file.substr(0, 4), std::string("\xD4\xFE\xFF\xFF", 4)); // -300 little-endian
    EXPECT_EQ(std::string(file.c_str() + 4), "Mapp/");
}

TEST_F(ShellConfig, OkThatCannotSaveSaysSoAndKeepsTheValues) {
    std::filesystem::create_directory(SettingsFileName); // nothing can replace a folder
    ConfigDialog dialog;
    dialog.show();
    dialog.Widgets().waitstates->setText("77");
    QString message;
    OnModal<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    dialog.Widgets().ok->click();
    EXPECT_TRUE(message.contains("could not be saved")) << message.toStdString();
    EXPECT_TRUE(message.contains(SettingsFileName));
    EXPECT_EQ(Waitstates(), 77);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ShellConfig, FolderChooserFillsTheFieldOnly) {
    std::filesystem::create_directory("Chosen");
    QString chosen = QDir(QString::fromStdString(folder.path())).filePath("Chosen");
    ConfigDialog dialog;
    dialog.show();
    // Typed into the chooser's name field, as a user would: selecting in its list depends on the
    // file system model, which fills in on a thread of its own.
    OnModal<QFileDialog>([&](QFileDialog* chooser) {
        auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(chosen);
        QMetaObject::invokeMethod(chooser, "accept");
    });
    dialog.Widgets().browse->click();
    EXPECT_EQ(dialog.Widgets().filesFolder->text(), chosen + "/");
    EXPECT_EQ(Folder(), "Files/") << "the choice is in force only after Apply or OK";
    dialog.Widgets().apply->click();
    EXPECT_EQ(Folder(), (chosen + "/").toStdString());
}

TEST_F(ShellConfig, LongFolderIsCutToWholeCharacters) {
    ConfigDialog dialog;
    QString folder = QString("a") + QString(200, QChar(0x00E5)); // 1 + 400 bytes of UTF-8
    dialog.Widgets().filesFolder->setText(folder);
    dialog.TakeFields();
    std::string taken = Folder();
    EXPECT_EQ(taken.size(), 255u);
    EXPECT_EQ(QString::fromStdString(taken), folder.left(128)) << "no half character at the end";
}

} // namespace
