// The window beyond the minimal one: keyboard modes, shortcuts, focus, paste and copy, typed-in
// files, scaling and full screen, remembered geometry, the status bar and the Config speed choice.
#include "cpu/processor.h"
#include "display/display.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"
#include "system/pacer.h"
#include "system/system.h"
#include "shell/config_dialog.h"
#include "shell/display_widget.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/program.h"
#include "shell/scan_code.h"
#include "shell/speed_choice.h"
#include "shell/status_fields.h"
#include "shell/typed_file.h"
#include "shell/window_menus.h"
#include "shell_test_support.h"
#include "test_support.h"
#include "ui_config_dialog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

// A key event as X11 delivers it: the native scan code (set-1 + 8), the layout's character.
void SendKey(QWidget* to, QEvent::Type type, uint32_t set1, const QString& text = {},
             Qt::KeyboardModifiers mods = {}, int key = Qt::Key_unknown) {
    QKeyEvent event(type, key, mods, set1 + 8, 0, 0, text);
    QApplication::sendEvent(to, &event);
    if (!SystemRunning()) PacerStep(); // a bare display: no clock thread steps the pacer
}

constexpr uint32_t ScanShift = 42, ScanCtrl = 29;

// --- Keyboard modes ------------------------------------------------------------------------------

class ShellKeys : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        KeyboardState = {};
        PacerReset();
        PacerSetPace({0, 0, 0}); // no processor runs: its clock stands still
        display.resize(240, 240);
    }
    // What the machine does with a key: accepts the interrupt, and its handler reads port 56.
    static void MachineTakesKey() {
        ClearControlFlags(KEY);
        PortRead(KeyboardPort);
    }
    DisplayWidget display;
};

// The same host key events under a US and a Swedish layout: natural mode gives the character the
// layout produced, positional mode the key's place on a Swedish keyboard.
TEST_F(ShellKeys, NaturalAndPositionalModes) {
    const struct {
        const char* what;
        uint32_t scan;
        const char* text;
        bool shift; // the host's shift key is held
        uint8_t natural;
        uint8_t positional;
    } cases[] = {
        {"US a", 30, "a", false, 'a', 'a'},
        {"US Shift+2 @", 3, "@", true, 0x40, '"'},  // É on the ABC80
        {"US Shift+= +", 13, "+", true, '+', 0x40}, // a plain key although shift is held
        {"US =", 13, "=", false, '=', 0x60},
        {"US Shift+' \"", 40, "\"", true, '"', 0x5B},
        {"US [ is Ä", 26, "[", false, 0x5B, 0x7D},
        {"US ;", 39, ";", false, ';', 0x7C},
        {"US /", 53, "/", false, '/', '-'},
        {"US Shift+; :", 39, ":", true, ':', 0x5C},
        {"US Shift+9 (", 10, "(", true, '(', ')'},
        {"SE Shift+7 /", 8, "/", true, '/', '/'},
        {"SE AltGr+4 $ is ¤", 5, "$", false, '$', '4'},
        {"SE AltGr+< |", 86, "|", false, 0x7C, '<'},
        {"SE å", 26, "\u00E5", false, 0x7D, 0x7D},
        {"SE Shift+Ö", 39, "\u00D6", true, 0x5C, 0x5C},
        {"SE é (composed)", 18, "\u00E9", false, 0x60, 'e'},
        {"keypad 4 with Num Lock", 75, "4", false, '4', 0x08},
    };
    for (KeyboardMode mode : {KeyboardMode::Natural, KeyboardMode::Positional}) {
        display.SetKeyboardMode(mode);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            KeyboardState = {};
            const Qt::KeyboardModifiers mods = c.shift ? Qt::ShiftModifier : Qt::NoModifier;
            if (c.shift) SendKey(&display, QEvent::KeyPress, ScanShift, {}, mods, Qt::Key_Shift);
            SendKey(&display, QEvent::KeyPress, c.scan, QString::fromUtf8(c.text), mods);
            const uint8_t want = mode == KeyboardMode::Natural ? c.natural : c.positional;
            EXPECT_EQ(ReadInPort(KeyboardPort), want | 0x80);
            EXPECT_TRUE(ReadControlFlags() & KEY);
            MachineTakesKey();
            SendKey(&display, QEvent::KeyRelease, c.scan, QString::fromUtf8(c.text), mods);
            EXPECT_TRUE(WaitFor([] { return !(ReadInPort(KeyboardPort) & 0x80); }));
            EXPECT_EQ(ReadInPort(KeyboardPort), want);
            EXPECT_EQ(KeyboardState.held_keys, 0);
            if (mode == KeyboardMode::Positional) {
                EXPECT_EQ(bool(KeyboardState.modifiers & SHIFT), c.shift) << "host shift held";
            }
            if (c.shift) SendKey(&display, QEvent::KeyRelease, ScanShift, {}, {}, Qt::Key_Shift);
        }
    }
}

// Keys without a printable character go by position in both modes: Enter, Backspace, arrows,
// Ctrl+letter. Dead keys wait for the composed character; a character the ABC80 lacks is dropped.
TEST_F(ShellKeys, KeysWithoutTextGoByPosition) {
    display.SetKeyboardMode(KeyboardMode::Natural);
    const struct {
        const char* what;
        uint32_t scan;
        const char* text;
        Qt::KeyboardModifiers mods;
        int key;
        int code; // -1: nothing reaches the machine
    } cases[] = {
        {"Enter", 28, "\r", {}, Qt::Key_Return, 0x0D},
        {"Backspace", 14, "\b", {}, Qt::Key_Backspace, 0x08},
        {"Right", 77, "", {}, Qt::Key_Right, 0x09},
        {"Ctrl+C", 46, "\x03", Qt::ControlModifier, Qt::Key_C, 0x03},
        {"Ctrl+Shift+O", 24, "\x0F", Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_O, 0x1F},
        {"dead acute", 13, "", {}, Qt::Key_Dead_Acute, -1},
        {"euro sign", 6, "\u20AC", {}, Qt::Key_unknown, -1},
        {"Alt+a", 30, "a", Qt::AltModifier, Qt::Key_A, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachineForTest();
        KeyboardState = {};
        if (c.mods & Qt::ControlModifier) KeyEvent(ScanCtrl, true);
        if (c.mods & Qt::ShiftModifier) KeyEvent(ScanShift, true);
        SendKey(&display, QEvent::KeyPress, c.scan, QString::fromUtf8(c.text), c.mods, c.key);
        if (c.code < 0) {
            EXPECT_FALSE(ReadControlFlags() & KEY);
            EXPECT_EQ(KeyboardState.held_keys, 0);
        } else {
            EXPECT_EQ(ReadInPort(KeyboardPort), c.code | 0x80);
        }
        MachineTakesKey();
        SendKey(&display, QEvent::KeyRelease, c.scan, QString::fromUtf8(c.text), c.mods, c.key);
        EXPECT_TRUE(WaitFor([] { return KeyboardState.held_keys == 0; }));
    }
}

// The host already applied Caps Lock to the text, so natural mode types what the host shows,
// whatever the model's own caps toggle says.
TEST_F(ShellKeys, CapsLockInNaturalMode) {
    display.SetKeyboardMode(KeyboardMode::Natural);
    KeyboardState.modifiers = CAPS;
    SendKey(&display, QEvent::KeyPress, 58, {}, {}, Qt::Key_CapsLock);
    SendKey(&display, QEvent::KeyRelease, 58, {}, {}, Qt::Key_CapsLock);
    for (const char* text : {"A", "b"}) {
        SendKey(&display, QEvent::KeyPress, 30, text);
        EXPECT_EQ(ReadInPort(KeyboardPort), uint8_t(text[0]) | 0x80) << text;
        MachineTakesKey();
        SendKey(&display, QEvent::KeyRelease, 30, text);
        EXPECT_TRUE(WaitFor([] { return KeyboardState.held_keys == 0; }));
        EXPECT_TRUE(KeyboardState.modifiers & CAPS);
    }
}

// A tap shorter than the machine takes to accept the interrupt (synthetic events come with no
// time between press and release) keeps the ABC80 key down until the machine has taken it, so
// the ROM still finds it down when it reads port 56.
TEST_F(ShellKeys, ShortTapStaysDownUntilTaken) {
    display.SetKeyboardMode(KeyboardMode::Natural);
    SendKey(&display, QEvent::KeyPress, 19, "r");
    SendKey(&display, QEvent::KeyRelease, 19, "r");
    // No processor runs here, so the machine's clock stands still: however often the pacer looks
    // (its steps come from the clock thread every 100 microseconds while keys are on their way:
    // ten thousand are a second of them), the key is not given up.
    for (int i = 0; i < 10000; ++i)
        PacerStep();
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xF2) << "not taken yet: still down";
    // Typed again before it was taken: the second press waits for the first to be taken.
    SendKey(&display, QEvent::KeyPress, 19, "r");
    SendKey(&display, QEvent::KeyRelease, 19, "r");
    EXPECT_EQ(KeyboardState.held_keys, 1);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xF2);
    MachineTakesKey();
    EXPECT_TRUE(WaitFor([] { return ReadControlFlags() & KEY; })) << "the second press";
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xF2);
    MachineTakesKey();
    EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0x72; }));
    EXPECT_EQ(KeyboardState.held_keys, 0);
}

// A release whose press never reached the model lets go of nothing: a key still queued behind
// one the machine has not read, or a key with no ABC80 character. Each would otherwise clear bit 7
// of port 56 under the key that is down.
TEST_F(ShellKeys, ReleasesOfKeysThatNeverWentDownChangeNothing) {
    for (KeyboardMode mode : {KeyboardMode::Natural, KeyboardMode::Positional}) {
        display.SetKeyboardMode(mode);
        KeyboardState = {};
        SendKey(&display, QEvent::KeyPress, 30, "a");
        ASSERT_EQ(ReadInPort(KeyboardPort), 0xE1);
        const struct {
            const char* what;
            uint32_t scan;
            const char* text;
        } cases[] = {
            {"queued b", 48, "b"},
            {"euro sign", 6, "\u20AC"},
        };
        for (const auto& c : cases) {
            if (mode == KeyboardMode::Positional) continue; // each goes down there
            SCOPED_TRACE(c.what);
            SendKey(&display, QEvent::KeyPress, c.scan, QString::fromUtf8(c.text));
            SendKey(&display, QEvent::KeyRelease, c.scan, QString::fromUtf8(c.text));
            for (int i = 0; i < 100; ++i) // the pacer has looked at what the release left
                PacerStep();
            EXPECT_EQ(ReadInPort(KeyboardPort), 0xE1) << "a is still down";
            EXPECT_EQ(KeyboardState.held_keys, 1);
        }
        SendKey(&display, QEvent::KeyRelease, 30, "a");
        MachineTakesKey();
        if (mode == KeyboardMode::Natural) { // then the queued b goes down and is taken
            EXPECT_TRUE(WaitFor([] { return ReadInPort(KeyboardPort) == 0xE2; }));
            MachineTakesKey();
        }
        EXPECT_TRUE(WaitFor([] { return KeyboardState.held_keys == 0; }));
    }
}

// No shortcut may take a key combination the emulated keyboard gives a code to: every counted
// key of the tables, with every modifier combination, is claimed by the display, except
// Ctrl+Shift+C and Ctrl+Shift+V; Alt combinations never reach the machine.
TEST_F(ShellKeys, ShortcutsNeverTakeMachineKeys) {
    const Qt::KeyboardModifiers combos[] = {
        {}, Qt::ShiftModifier, Qt::ControlModifier, Qt::ControlModifier | Qt::ShiftModifier};
    int claimed = 0, counted_keys = 0;
    for (uint32_t scan = 1; scan < KeyScanCodes; ++scan) {
        const uint8_t k = KeyIndexTable[scan];
        const bool counted = k != 0 && KeyCodeTable[PlanePlain][k] != 0xFF;
        counted_keys += counted;
        for (Qt::KeyboardModifiers mods : combos) {
            int key = scan == 46 ? Qt::Key_C : scan == 47 ? Qt::Key_V : Qt::Key_unknown;
            QKeyEvent event(QEvent::ShortcutOverride, key, mods, scan + 8, 0, 0);
            event.ignore();
            QApplication::sendEvent(&display, &event);
            const bool listed =
                mods == (Qt::ControlModifier | Qt::ShiftModifier) && (scan == 46 || scan == 47);
            EXPECT_EQ(event.isAccepted(), counted && !listed) << "scan " << scan;
            claimed += event.isAccepted();
            QKeyEvent alt(QEvent::ShortcutOverride, key, mods | Qt::AltModifier, scan + 8, 0, 0);
            alt.ignore();
            QApplication::sendEvent(&display, &alt);
            EXPECT_FALSE(alt.isAccepted());
        }
    }
    EXPECT_EQ(counted_keys, 52);
    EXPECT_EQ(claimed, 4 * counted_keys - 2);
}

// The window's own shortcuts use only keys that have no ABC80 code, Alt combinations and the
// two Ctrl+Shift ones.
TEST(ShellShortcuts, OnlyFreeKeys) {
    ResetMachineForTest();
    ScratchFolder folder;
    MainWindow window(false);
    const struct {
        int key;
        uint32_t scan;
    } keys[] = {{Qt::Key_F1, 59},  {Qt::Key_F2, 60},  {Qt::Key_F3, 61},     {Qt::Key_F4, 62},
                {Qt::Key_F11, 87}, {Qt::Key_F12, 88}, {Qt::Key_Insert, 82}, {Qt::Key_Escape, 1},
                {Qt::Key_0, 11},   {Qt::Key_1, 2},    {Qt::Key_2, 3},       {Qt::Key_3, 4},
                {Qt::Key_4, 5},    {Qt::Key_C, 46},   {Qt::Key_V, 47},      {Qt::Key_Pause, 69},
                {Qt::Key_F9, 67},  {Qt::Key_F5, 63},  {Qt::Key_F6, 64},     {Qt::Key_F7, 65},
                {Qt::Key_F8, 66}};
    int shortcuts = 0;
    for (QAction* action : window.findChildren<QAction*>()) {
        for (const QKeySequence& seq : action->shortcuts()) {
            ++shortcuts;
            const QKeyCombination combo = seq[0];
            uint32_t scan = 0;
            for (const auto& k : keys)
                if (k.key == combo.key()) scan = k.scan;
            ASSERT_NE(scan, 0u) << seq.toString().toStdString();
            QKeyEvent event(QEvent::KeyPress, combo.key(), combo.keyboardModifiers(), scan + 8, 0,
                            0);
            EXPECT_FALSE(KeyBelongsToMachine(event)) << seq.toString().toStdString();
        }
    }
    EXPECT_GE(shortcuts, 14);
}

// --- The window with the free BASIC --------------------------------------------------------------

class ShellWindow : public WindowTest {
  protected:
    // Types text and waits until it has all been typed and the machine is idle again.
    void Type(const std::string& text) {
        window->Typist()->TypeText(QByteArray::fromStdString(text), "Test");
        ASSERT_TRUE(TypingEnds());
    }
    // Waits until typing has ended, for as long as it keeps going: a long paste may take minutes
    // on a loaded machine, but its progress in the status bar never stops for half a minute.
    bool TypingEnds() {
        while (window->Typist()->Typing()) {
            const QString progress = window->Status()->TypingField()->text();
            if (!WaitFor(
                    [&] { return !window->Typist()->Typing() || window->Status()->TypingField()->text() != progress; }))
                return false;
        }
        return true;
    }
    std::string Copied() {
        window->Typist()->CopyScreen();
        return QApplication::clipboard()->text().toStdString();
    }
};

// The Speed menu: each share of a real ABC80 is the budget the processor keeps per tick, as fast
// as possible and the file's idle iterations are what Lunabrik.cfg says; the one in force is
// ticked, Pause unticks them all and marks the picture.
TEST_F(ShellWindow, SpeedMenuSetsThePaceAndTicksIt) {
    Start();
    const struct {
        const char* entry;
        int32_t waitstates;
        int percent;
    } entries[] = {{"speed25", -1, 25}, {"speed400", -1, 400}, {"speedFastest", 0, 100},
                   {"speed50", -1, 50}, {"speed200", -1, 200}, {"speed100", -1, 100}};
    for (const auto& e : entries) {
        window->Action(e.entry)->trigger();
        EXPECT_EQ(Waitstates(), e.waitstates) << e.entry;
        EXPECT_EQ(SystemPacePercent(), e.percent) << e.entry;
        EXPECT_EQ(SavedSpeedPercent(), e.percent) << e.entry;
        EXPECT_EQ(PaceBudget(), 600u * uint32_t(e.percent)) << e.entry;
        for (const char* other : {"speed25", "speed50", "speed100", "speed200", "speed400",
                                  "speedFastest", "speedIdleIterations"})
            EXPECT_EQ(window->Action(other)->isChecked(), std::string(other) == e.entry)
                << e.entry << " chosen, " << other;
    }
    SetWaitstates(1000); // from a Lunabrik.cfg: shown as what it is, never offered
    window->Menus()->ShowSpeed();
    QAction* idle = window->Action("speedIdleIterations");
    EXPECT_TRUE(idle->isVisible() && idle->isChecked() && !idle->isEnabled());
    EXPECT_EQ(idle->text(), "1000 idle iterations per instruction");
    window->Action("speed100")->trigger();
    EXPECT_FALSE(idle->isVisible());

    window->Action("pause")->trigger();
    EXPECT_TRUE(window->Display()->PauseMark());
    EXPECT_FALSE(window->Action("speed100")->isChecked());
    window->Action("speed50")->trigger(); // a speed chosen while paused runs the machine
    EXPECT_FALSE(window->Emulation()->Paused());
    EXPECT_FALSE(window->Display()->PauseMark());
    EXPECT_TRUE(window->Action("speed50")->isChecked());
    window->Action("speed100")->trigger();
}

TEST(ShellSpeedText, ChosenShareReadsSteadilyAndSaysWhatItReaches) {
    const struct {
        int chosen;
        double reached;
        bool short_form;
        const char* text;
    } cases[] = {{100, 100.0, false, "Speed 100 %"},
                 {100, 98.3, false, "Speed 100 %"},
                 {100, 122.0, false, "Speed 122 % of 100 %"},
                 {400, 310.0, true, "310 % of 400 %"},
                 {25, 25.4, true, "25 %"}};
    for (const auto& c : cases)
        EXPECT_EQ(ChosenSpeedText(c.chosen, c.reached, c.short_form).toStdString(), c.text)
            << c.chosen << " " << c.reached;
}

// A click on any button leaves the keyboard with the display, and so does closing a dialog:
// the next key reaches the machine. (The offscreen platform has no window manager to activate
// the main window again after a dialog, so the test does it, as the desktop would.)
TEST_F(ShellWindow, FocusStaysWithTheDisplay) {
    Start();
    DisplayWidget* display = window->Display();
    ASSERT_TRUE(display->hasFocus());
    auto focus_returned = [&] {
        window->activateWindow();
        return WaitFor([&] { return display->hasFocus(); });
    };
    for (QPushButton* b : {window->AboutButton(), window->ConfigButton()}) {
        SCOPED_TRACE(b->text().toStdString());
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
        OnModal<QDialog>([](QDialog* d) { d->reject(); });
        QTest::mouseClick(b, Qt::LeftButton);
        EXPECT_EQ(window->focusWidget(), display);
        EXPECT_TRUE(focus_returned());
    }
    QTest::mouseClick(window->ResetButton(), Qt::LeftButton);
    EXPECT_TRUE(display->hasFocus()) << "no dialog: the focus never left";
    ASSERT_TRUE(WaitFor([] { return ScreenAsText().find("READY") != std::string::npos; }));
    for (QAction* a : {window->Action("about"), window->Action("config")}) {
        OnModal<QDialog>([](QDialog* d) { d->reject(); });
        a->trigger();
        EXPECT_EQ(window->focusWidget(), display) << a->objectName().toStdString();
        EXPECT_TRUE(focus_returned());
    }
    // Space right after the clicks goes to the machine, not to a button.
    ASSERT_EQ(QApplication::focusWidget(), display);
    SendKey(display, QEvent::KeyPress, 57, " ");
    EXPECT_TRUE(WaitFor([] { return (ReadInPort(KeyboardPort) & 0x7F) == 0x20; }))
        << "the space went to the machine";
    SendKey(display, QEvent::KeyRelease, 57, " ");
}

// Host key events for each character of text, pressed and released at once (natural mode).
void TypeKeys(QWidget* display, const std::string& text) {
    for (char c : text) {
        const bool enter = c == '\r';
        const QString t = enter ? QString("\r") : QString(QChar(c));
        const uint32_t scan = enter ? 28 : 30;
        const int key = enter ? int(Qt::Key_Return) : int(Qt::Key_unknown);
        SendKey(display, QEvent::KeyPress, scan, t, {}, key);
        SendKey(display, QEvent::KeyRelease, scan, t, {}, key);
    }
}

// The three ways keys used to be lost: typed during a paste, typed right before a dialog opened,
// typed after a menu was closed with Esc. Each line arrives whole, in the order it was typed.
TEST_F(ShellWindow, NoKeyIsLostToAPasteADialogOrAMenu) {
    Start();
    DisplayWidget* display = window->Display();
    display->SetKeyboardMode(KeyboardMode::Natural);
    QApplication::clipboard()->setText("10 REM PASTED FIRST\n20 REM AND SECOND\n");
    window->Typist()->Paste();
    TypeKeys(display, "PRINT 6*7\r");
    ASSERT_TRUE(WaitFor([&] { return Copied().find(" 42\n") != std::string::npos; }, 60000))
        << Copied();
    EXPECT_NE(Copied().find("20 REM AND SECOND\nPRINT 6*7\n 42\n"), std::string::npos) << Copied();

    TypeKeys(display, "PRINT 111\r");
    OnModal<QDialog>([](QDialog* d) { d->reject(); });
    window->Action("about")->trigger();
    ASSERT_TRUE(WaitFor([&] { return Copied().find("PRINT 111\n 111\n") != std::string::npos; }))
        << Copied();

    QMenu* file = window->menuBar()->actions().first()->menu();
    window->menuBar()->setActiveAction(window->menuBar()->actions().first());
    ASSERT_TRUE(WaitFor([&] { return file->isVisible(); }));
    QTest::keyClick(file, Qt::Key_Escape);
    // The window's keyboard goes to the screen (offscreen, the window itself is not active again).
    ASSERT_TRUE(WaitFor([&] { return window->focusWidget() == display; }));
    TypeKeys(display, "PRINT 12345\r");
    ASSERT_TRUE(WaitFor([&] {
        return Copied().find("PRINT 12345\n 12345\n") != std::string::npos;
    })) << Copied();
}

// Keys typed far faster than the machine reads them (press and release with no time between,
// as synthetic events come) all reach the free BASIC, in order, under a US layout's characters.
TEST_F(ShellWindow, FastTypingKeepsEveryKey) {
    Start();
    DisplayWidget* display = window->Display();
    const struct {
        uint32_t scan;
        const char* text;
        bool shift;
    } keys[] = {{25, "P", true},  {19, "R", true},  {23, "I", true},  {49, "N", true},
                {20, "T", true},  {57, " ", false}, {40, "\"", true}, {35, "h", false},
                {23, "i", false}, {7, "^", true},   {3, "@", true},   {26, "[", false},
                {40, "\"", true}, {28, "\r", false}};
    for (int round = 0; round < 3; ++round) {
        for (const auto& k : keys) {
            const Qt::KeyboardModifiers mods = k.shift ? Qt::ShiftModifier : Qt::NoModifier;
            if (k.shift) SendKey(display, QEvent::KeyPress, ScanShift, {}, mods, Qt::Key_Shift);
            SendKey(display, QEvent::KeyPress, k.scan, k.text, mods);
            SendKey(display, QEvent::KeyRelease, k.scan, k.text, mods);
            if (k.shift) SendKey(display, QEvent::KeyRelease, ScanShift, {}, {}, Qt::Key_Shift);
        }
    }
    // Every key reaches the machine, in order, the first one included.
    const std::string line = "PRINT \"hi\u00DC\u00C9\u00C4\"\nhi\u00DC\u00C9\u00C4\nREADY\n";
    ASSERT_TRUE(WaitFor(
        [&] { return Copied().find("READY\n" + line + line + line) != std::string::npos; }, 10000))
        << Copied();
}

// A paste that starts while keys typed just before it still wait for the machine types after
// them, at either speed: the two never press keys at once.
TEST_F(ShellWindow, PasteWaitsForKeysTypedBeforeIt) {
    Start();
    DisplayWidget* display = window->Display();
    for (int32_t waitstates : {0, RealSpeedWaitstates}) {
        SetWaitstates(waitstates);
        const std::string n = std::to_string(-waitstates);
        SendKey(display, QEvent::KeyPress, 42, {}, Qt::ShiftModifier, Qt::Key_Shift);
        const struct {
            uint32_t scan;
            const char* text;
        } keys[] = {{25, "P"}, {19, "R"}, {23, "I"}, {49, "N"}, {20, "T"}};
        for (const auto& k : keys) {
            SendKey(display, QEvent::KeyPress, k.scan, k.text, Qt::ShiftModifier);
            SendKey(display, QEvent::KeyRelease, k.scan, k.text, Qt::ShiftModifier);
        }
        SendKey(display, QEvent::KeyRelease, 42, {}, {}, Qt::Key_Shift);
        window->Typist()->TypeText(QByteArray::fromStdString(" 7" + n + "\r"), "Test");
        ASSERT_TRUE(TypingEnds());
        ASSERT_TRUE(WaitFor([&] {
            return Copied().find("PRINT 7" + n + "\n 7" + n + "\nREADY\n") != std::string::npos;
        })) << Copied();
    }
}

// At a real ABC80's pace the machine takes about one key per clock tick; a paste waits for each
// and loses nothing.
TEST_F(ShellWindow, PasteAtRealSpeedListsBackIdentical) {
    Start();
    SetWaitstates(RealSpeedWaitstates);
    const std::string program = "10 PRINT \"R\u00C4KNA \u00E5\u00E4\u00F6\"\n20 A=2*2+(3-1)/4\n"
                                "30 REM #%&/()=?:;,.<>*-_'!\n";
    QApplication::clipboard()->setText(QString::fromStdString(program + "LIST\n"));
    window->Typist()->Paste();
    ASSERT_TRUE(TypingEnds());
    ASSERT_TRUE(WaitFor([&] {
        return Copied().find("LIST\n" + program + "READY\n") != std::string::npos;
    })) << Copied();
}

// A 100-line program pasted into the free BASIC lists back exactly as it was, read from the
// screen by the copy function: nothing is lost, Swedish letters included.
TEST_F(ShellWindow, PasteOfAHundredLinesListsBackIdentical) {
    Start();
    std::string program;
    std::vector<std::string> lines;
    for (int n = 1; n <= 100; ++n) {
        std::string line =
            std::to_string(n * 10) +
            (n % 3 == 0   ? " PRINT \"R\u00C4KNA \u00E5\u00E4\u00F6 " + std::to_string(n) + "\""
             : n % 3 == 1 ? " A=" + std::to_string(n) + "*2+(3-1)/4"
                          : " REM #%&/()=?:;,.<>*-_'!");
        lines.push_back(line);
        program += line + (n % 2 ? "\r\n" : "\n");
    }
    QApplication::clipboard()->setText(QString::fromStdString(program));
    window->Typist()->Paste();
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("Paste"));
    ASSERT_TRUE(TypingEnds()) << window->Status()->TypingField()->text().toStdString() << "\n" << Copied();
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("typed"))
        << window->Status()->TypingField()->text().toStdString();
    for (int first = 0; first < 100; first += 20) {
        Type("CLS\rLIST " + std::to_string((first + 1) * 10) + "-" +
             std::to_string((first + 20) * 10) + "\r");
        ASSERT_TRUE(WaitFor([&] { return Copied().find("READY") != std::string::npos; }));
        const std::string screen = Copied();
        for (int i = first; i < first + 20; ++i)
            EXPECT_NE(screen.find(lines[i] + "\n"), std::string::npos) << lines[i] << "\n"
                                                                       << screen;
    }
}

// A listing whose lines wrap over two and three rows (and one of exactly 40 characters) copies
// from the screen with each program line as one line, and pasted back after NEW it lists the same.
TEST_F(ShellWindow, CopiedListingPastesBackAsTheSameProgram) {
    Start();
    const std::string program =
        "10 PRINT \"A LINE LONG ENOUGH TO WRAP OVER TWO ROWS\"\n"
        "20 REM THIS LINE IS 40 CHARACTERS LONG!!\n"
        "30 PRINT \"THREE ROWS: ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ\"\n"
        "40 END\n";
    ASSERT_EQ(std::string("20 REM THIS LINE IS 40 CHARACTERS LONG!!").size(), 40u);
    auto listing = [&] {
        Type("CLS\rLIST\r");
        std::string screen;
        EXPECT_TRUE(WaitFor([&] {
            screen = Copied();
            return screen.find("LIST\n") != std::string::npos &&
                   screen.find("READY", screen.find("LIST\n")) != std::string::npos;
        })) << screen;
        const size_t from = screen.find("LIST\n") + 5;
        return screen.substr(from, screen.find("READY", from) - from);
    };
    Type(program);
    const std::string copied = listing();
    EXPECT_EQ(copied, program);
    Type("NEW\r");
    QApplication::clipboard()->setText(QString::fromStdString(copied));
    window->Typist()->Paste();
    ASSERT_TRUE(TypingEnds());
    EXPECT_EQ(listing(), program);
}

// Characters without an ABC80 code are skipped and counted; control characters never act.
TEST_F(ShellWindow, PasteSkipsAndCounts) {
    Start();
    window->Typist()->TypeText("PRINT \"\u20AC\x03\tOK\u00A4\"\n", "Paste");
    ASSERT_TRUE(TypingEnds());
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("skipped 3"))
        << window->Status()->TypingField()->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Copied().find("\nOK\u00A4\n") != std::string::npos; }));
}

// A long paste runs from the event loop and Esc cancels it; the key held is released.
TEST_F(ShellWindow, LongPasteCanBeCancelled) {
    Start();
    window->Typist()->TypeText(QByteArray(1 << 20, 'x'), "Paste");
    EXPECT_TRUE(window->Typist()->Typing());
    // The window stays responsive meanwhile: the paste goes on from the event loop.
    EXPECT_TRUE(WaitFor([&] { return !window->Status()->TypingField()->text().startsWith("Paste: 1 of"); }));
    EXPECT_TRUE(window->Typist()->Typing());
    EXPECT_TRUE(window->Action("cancelTyping")->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->Typist()->Typing());
    EXPECT_EQ(KeyboardState.held_keys, 0);
    EXPECT_TRUE(window->Status()->TypingField()->text().contains("cancelled"));
}

// The screen as UTF-8: Swedish letters as themselves, mosaic as sextants, trailing blanks
// dropped.
TEST_F(ShellWindow, CopyOfSwedishLettersAndMosaic) {
    Start();
    // Row 10: below BASIC's cursor, which nothing else writes while BASIC waits for a line.
    const uint16_t row = RowAddressTable[10];
    const uint8_t text[] = {'$', '@', '[',  '\\', ']',  '^',  '`',  '{', '|', '}',
                            '~', ' ', 0x17, 0x20, 0x21, 0x7F, 0x23, ' ', ' '};
    for (size_t i = 0; i < sizeof text; ++i)
        std::atomic_ref<uint8_t>(MachineMemory[row + i]).store(text[i], std::memory_order_relaxed);
    const std::string screen = Copied();
    EXPECT_NE(screen.find("\u00A4\u00C9\u00C4\u00D6\u00C5\u00DC\u00E9\u00E4\u00F6\u00E5\u00FC "
                          "  \U0001FB00\u2588\U0001FB02\n"),
              std::string::npos)
        << screen;
    size_t lines = 0;
    for (char c : screen)
        lines += c == '\n';
    EXPECT_EQ(lines, 24u);
}

// A text file typed in: through the menu's function, with a message for a folder, binary data
// or an unreadable file, and nothing typed then.
TEST_F(ShellWindow, TypeInFile) {
    Start();
    folder.WriteFile("prog.bas", "10 PRINT \"FIL\u00C5\"\r\nRUN\n");
    folder.WriteFile("latin1.bas", "PRINT \"\xC5\xC4\xD6\"\n");
    folder.WriteFile("binary.bin", std::string("\x7F"
                                               "ELF\0\0\1\2",
                                               8));
    std::filesystem::create_directory("folder");
    ASSERT_TRUE(window->Typist()->TypeFile("prog.bas"));
    ASSERT_TRUE(TypingEnds());
    EXPECT_TRUE(WaitFor([&] { return Copied().find("\nFIL\u00C5\n") != std::string::npos; }));
    ASSERT_TRUE(window->Typist()->TypeFile("latin1.bas"));
    ASSERT_TRUE(TypingEnds());
    EXPECT_TRUE(
        WaitFor([&] { return Copied().find("\n\u00C5\u00C4\u00D6\n") != std::string::npos; }));
    for (const char* bad : {"folder", "binary.bin", "missing.bas"}) {
        SCOPED_TRACE(bad);
        QString message;
        OnModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        EXPECT_FALSE(window->Typist()->TypeFile(bad));
        EXPECT_TRUE(WaitFor([&] { return !message.isEmpty(); }));
        EXPECT_FALSE(window->Typist()->Typing());
        EXPECT_EQ(window->focusWidget(), window->Display());
    }
}

TEST(ShellTypingFile, ReadTextForTyping) {
    ScratchFolder folder;
    folder.WriteFile("big.txt", "");
    std::filesystem::resize_file("big.txt", TypingFileLimit + 1);
    folder.WriteFile("controls.txt", std::string(100, '\x01') + "text");
    folder.WriteFile("ok.txt", "A\tB\r\nC");
    QByteArray text;
    QString error;
    EXPECT_FALSE(ReadTextForTyping("big.txt", text, error));
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
    EXPECT_FALSE(ReadTextForTyping("controls.txt", text, error));
    EXPECT_TRUE(error.contains("binary")) << error.toStdString();
    EXPECT_TRUE(ReadTextForTyping("ok.txt", text, error));
    EXPECT_EQ(text, "A\tB\r\nC");
}

// --- Scaling, full screen, geometry
// ----------------------------------------------------------------

// The picture at each factor, pixel for pixel against the 1x frame, centred in the widget.
TEST_F(ShellWindow, IntegerScalingPixelExact) {
    Start();
    window->SetScale(0);
    DisplayWidget* display = window->Display();
    const struct {
        int w, h, factor;
    } sizes[] = {{241, 241, 1}, {479, 700, 1},  {480, 480, 2}, {800, 719, 2},
                 {720, 720, 3}, {1000, 960, 4}, {300, 2000, 1}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        display->resize(s.w, s.h);
        EXPECT_EQ(display->Factor(), s.factor);
        const QImage picture = display->Picture().convertToFormat(QImage::Format_RGB32);
        const QImage shown = display->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect at = display->PictureRect().toRect();
        EXPECT_EQ(at.size(), QSize(240 * s.factor, 240 * s.factor));
        EXPECT_EQ(at.x(), (s.w - 240 * s.factor) / 2);
        EXPECT_EQ(at.y(), (s.h - 240 * s.factor) / 2);
        int wrong = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                QRgb want = at.contains(x, y)
                                ? picture.pixel((x - at.x()) / s.factor, (y - at.y()) / s.factor)
                                : qRgb(0, 0, 0);
                wrong += shown.pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(ShellWindow, ScaleMenuSizesTheWindow) {
    Start();
    for (int s : {2, 1, 3}) {
        window->Action(QString("scale%1").arg(s).toLatin1().constData())->trigger();
        EXPECT_TRUE(WaitFor([&] { return window->Display()->Factor() == s; })) << s;
        EXPECT_TRUE(window->Action(QString("scale%1").arg(s).toLatin1().constData())->isChecked());
        EXPECT_LE(window->Display()->width(), 240 * s + 2);
    }
    // A fixed scale stays put in a larger window; fit grows with it.
    window->resize(window->size() + QSize(400, 400));
    EXPECT_TRUE(WaitFor([&] { return window->Display()->height() >= 1100; }));
    EXPECT_EQ(window->Display()->Factor(), 3);
    window->Action("scaleFit")->trigger();
    EXPECT_EQ(window->Display()->Factor(), 4);
}

TEST(ShellScale, FirstStartPicksThreeQuartersOfTheScreen) {
    const struct {
        int height, scale;
    } cases[] = {{480, 1}, {768, 2}, {1080, 3}, {1440, 4}, {2160, 6}};
    for (const auto& c : cases)
        EXPECT_EQ(MainWindow::FirstStartScale(c.height), c.scale) << c.height;
}

TEST_F(ShellWindow, FullScreenHidesTheFurnitureAndComesBack) {
    Start();
    window->Action("fullScreen")->trigger();
    ASSERT_TRUE(WaitFor([&] { return window->isFullScreen(); }));
    EXPECT_FALSE(window->menuBar()->isVisible());
    EXPECT_FALSE(window->statusBar()->isVisible());
    EXPECT_FALSE(window->QuitButton()->isVisible());
    EXPECT_TRUE(window->Action("fullScreen")->isChecked());
    EXPECT_TRUE(window->Display()->hasFocus());
    window->Action("fullScreen")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !window->isFullScreen(); }));
    EXPECT_TRUE(window->menuBar()->isVisible());
    EXPECT_TRUE(window->statusBar()->isVisible());
    EXPECT_TRUE(window->QuitButton()->isVisible());
}

TEST_F(ShellWindow, GeometryAndScaleAreRemembered) {
    Start();
    window->SetScale(2);
    window->move(37, 41);
    ASSERT_TRUE(WaitFor([&] { return window->pos() == QPoint(37, 41); }));
    const QRect before = window->geometry();
    window->close();
    window.reset();
    EXPECT_EQ(SavedScale(), 2);
    EXPECT_FALSE(SavedFullScreen());
    ResetMachineForTest();
    Start();
    EXPECT_EQ(window->geometry(), before);
    EXPECT_EQ(window->Scale(), 2);
    EXPECT_TRUE(window->Action("scale2")->isChecked());
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName)) << "never in Lunabrik.cfg";
}

// --- Status bar ----------------------------------------------------------------------------------

TEST_F(ShellWindow, StatusBarFields) {
    Start();
    EXPECT_TRUE(window->Status()->KeyboardField()->text().contains("as typed", Qt::CaseInsensitive));
    window->Action("naturalKeyboard")->trigger();
    EXPECT_TRUE(window->Status()->KeyboardField()->text().contains("Swedish"));
    EXPECT_EQ(SavedKeyboardMode(), KeyboardMode::Positional);
    EXPECT_EQ(window->Display()->Mode(), KeyboardMode::Positional);
    EXPECT_TRUE(window->Status()->NoticeField()->text().contains("Created the files folder"));
    EXPECT_TRUE(std::filesystem::is_directory("Files"));
    EXPECT_FALSE(window->Status()->WarningField()->isVisible());

    // Sources that have nothing yet: no fields. (The real processor's speed may already have
    // been shown; a source without figures hides it.)
    window->Status()->SetSources([](uint64_t&, uint64_t&) { return false; },
                             [](uint32_t&, QString&) { return false; });
    window->Status()->Update();
    EXPECT_FALSE(window->Status()->SpeedField()->isVisible());

    // A fake processor at 1.5 million T-states and 0.4 million instructions a second, on a clock
    // of the test's own: the figure does not depend on how fast this computer is.
    double now = 0;
    uint32_t warnings = 0;
    window->Status()->SetSources(
        [&](uint64_t& instructions, uint64_t& tstates) {
            instructions = uint64_t(400000 * now);
            tstates = uint64_t(1500000 * now);
            return true;
        },
        [&](uint32_t& count, QString& text) {
            count = warnings;
            text = "DATA.TXT: No space left on device";
            return true;
        },
        [&] { return now; });
    for (now = 0; now <= 1.25; now += 0.25)
        window->Status()->Update();
    EXPECT_TRUE(window->Status()->SpeedField()->isVisible());
    EXPECT_TRUE(window->Status()->SpeedField()->text().endsWith("50 %"))
        << window->Status()->SpeedField()->text().toStdString();
    EXPECT_FALSE(window->Status()->WarningField()->isVisible());
    warnings = 1;
    window->Status()->Update();
    EXPECT_TRUE(window->Status()->WarningField()->isVisible());
    EXPECT_TRUE(window->Status()->WarningField()->text().contains("DATA.TXT: No space left on device"));
}

// The status bar's notice: start-up's notes, then its warnings.
TEST(ShellStatus, StartupNotice) {
    ResetMachineForTest();
    ScratchFolder folder;
    folder.WriteFile("basic.rom", std::string(64, '\x76')); // HALT
    folder.WriteFile("dev_dos.rom", std::string(16, '\0'));
    StartupReport report;
    ASSERT_TRUE(SystemStartUp(WindowStartup(nullptr), report));
    EXPECT_TRUE(StartupNotice(report).startsWith("Created the files folder"));
    EXPECT_TRUE(StartupNotice(report).contains("font.bin is missing"));
    folder.WriteFile("font.bin", std::string(2560, '\xFF'));
    folder.WriteFile("Lunabrik.cfg", std::string("    Files/", 10)); // waitstates as text
    ASSERT_TRUE(SystemStartUp(WindowStartup(nullptr), report));
    EXPECT_TRUE(StartupNotice(report).startsWith("waitstates 538976288"))
        << StartupNotice(report).toStdString();
    EXPECT_TRUE(StartupNotice(report).contains("Config > Speed"));
}

// --- Config: speed choice and keyboard mode
// --------------------------------------------------------

class ShellConfigSpeed : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        ReadSettings();
        ClearPreferences();
    }
    void TearDown() override { ClearPreferences(); }
    ScratchFolder folder;
};

// The list offers shares of a real ABC80 and as fast as possible; the file's waitstates field
// follows it (-1 for every share, 0), and idle iterations typed there show as what they are.
TEST_F(ShellConfigSpeed, ChoiceAndFieldFollowEachOther) {
    ConfigDialog dialog;
    dialog.show();
    auto shown = [&] { return dialog.SpeedChoice()->currentData().toInt(); };
    EXPECT_EQ(shown(), FastestSpeed);
    const struct {
        int speed;
        const char* text;
        const char* meaning;
    } choices[] = {{25, "-1", "25 % of a real ABC80"},
                   {FastestSpeed, "0", "as fast as possible"},
                   {400, "-1", "400 %"},
                   {100, "-1", "a real ABC80's pace"}};
    for (const auto& c : choices) {
        dialog.ChooseSpeedEntry(c.speed);
        EXPECT_EQ(dialog.Widgets().waitstates->text(), c.text) << c.speed;
        EXPECT_TRUE(dialog.Meaning()->text().contains(c.meaning))
            << c.speed << ": " << dialog.Meaning()->text().toStdString();
    }
    EXPECT_EQ(dialog.SpeedChoice()->findData(IdleIterationsSpeed), -1)
        << "idle iterations are never offered";
    const struct {
        const char* text;
        int speed;
        const char* entry;
    } typed[] = {{"fast", FastestSpeed, "As fast as possible"},
                 {"-1", 100, "100 %"},
                 {"-7", FastestSpeed, "As fast as possible"},
                 {"25x", IdleIterationsSpeed, "25 idle iterations per instruction"}};
    for (const auto& t : typed) {
        dialog.Widgets().waitstates->clear();
        QTest::keyClicks(dialog.Widgets().waitstates, t.text);
        EXPECT_EQ(shown(), t.speed) << t.text;
        EXPECT_TRUE(dialog.SpeedChoice()->currentText().contains(t.entry))
            << t.text << ": " << dialog.SpeedChoice()->currentText().toStdString();
    }
    // A share other than 100 % lives in the preferences; the file says "a real pace".
    dialog.ChooseSpeedEntry(200);
    dialog.Widgets().ok->click();
    EXPECT_EQ(Waitstates(), -1);
    EXPECT_EQ(SystemPacePercent(), 200);
    EXPECT_EQ(SavedSpeedPercent(), 200);
    EXPECT_EQ(folder.ReadFile(SettingsFileName).substr(0, 4), std::string(4, '\xFF'));
    ConfigDialog again;
    EXPECT_EQ(again.SpeedChoice()->currentData().toInt(), 200) << "the dialog shows it again";
    again.ChooseSpeedEntry(100);
    again.Widgets().ok->click();
    EXPECT_EQ(SystemPacePercent(), 100);
    EXPECT_EQ(SavedSpeedPercent(), 100);
}

// A value that makes one instruction take over a second here is taken only when confirmed.
TEST_F(ShellConfigSpeed, VerySlowValueAsksFirst) {
    EXPECT_GT(IdleIterationsPerSecond(), 1e6) << "measured on this host";
    for (bool yes : {false, true}) {
        ConfigDialog dialog;
        dialog.SetIdleRate(1e6); // a slow host: 3,000,000 iterations take 3 seconds
        dialog.show();
        dialog.Widgets().waitstates->setText("3000000");
        QString question;
        OnModal<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        dialog.Widgets().apply->click();
        EXPECT_TRUE(question.contains("3.0 seconds")) << question.toStdString();
        EXPECT_EQ(Waitstates(), yes ? 3000000 : 0);
    }
    // Slow but under a second: no question.
    ConfigDialog dialog;
    dialog.SetIdleRate(1e6);
    dialog.Widgets().waitstates->setText("1000");
    EXPECT_TRUE(dialog.TakeFields());
    EXPECT_EQ(Waitstates(), 1000);
}

TEST_F(ShellConfigSpeed, KeyboardModeInPreferencesOnly) {
    ConfigDialog dialog;
    EXPECT_EQ(dialog.KeyboardChoice()->currentText(), "As typed");
    dialog.KeyboardChoice()->setCurrentIndex(1);
    EXPECT_EQ(dialog.KeyboardChoice()->currentText(), "Swedish key positions");
    dialog.Widgets().ok->click();
    EXPECT_EQ(SavedKeyboardMode(), KeyboardMode::Positional);
    EXPECT_EQ(folder.ReadFile(SettingsFileName).size(), 260u);
}

} // namespace
