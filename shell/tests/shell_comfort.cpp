// Everyday comfort in the window: turbo and pause, the speed as the status bar shows it,
// screenshots in one key, the mouse selection, text folded to what the ABC80 has, composed keys.
#include "cpu/processor.h"
#include "host/settings.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "shell/display_widget.h"
#include "shell/help_texts.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/speed_meter.h"
#include "system/pacer.h"
#include "system/system.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QEventLoop>
#include <QInputMethodEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include "shell_test_support.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace {

void SendKey(QWidget* to, QEvent::Type type, int key, uint32_t set1, bool repeat = false) {
    QKeyEvent event(type, key, {}, set1 + 8, 0, 0, {}, repeat);
    QApplication::sendEvent(to, &event);
}

} // namespace

TEST(ShellComfort, SpeedReadsSteadily) {
    const struct {
        double percent;
        const char* text;
    } cases[] = {
        {0, "0.0 %"},
        {2.46, "2.5 %"},
        {99.6, "100 %"},
        {100.4, "100 %"},
        {187, "187 %"},
        {452, "450 %"},
        {1530, "\u00d715"},
        {74999, "\u00d7750"},
        {151234, "\u00d71,500"},
        {174000, "\u00d71,700"},
        {2.5e6, "\u00d725,000"},
        {-3, "0.0 %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpeedText(c.percent), c.text) << c.percent;
}

class ShellComfortWindow : public WindowTest {
  protected:
    std::string Speed() { return window->Status()->SpeedField()->text().toStdString(); }
};

// Turbo, held on F9 or toggled from the menu, runs past a real ABC80's pace and never touches the
// settings; letting go returns to the pace set. Pause stops the machine and its picture stays.
TEST_F(ShellComfortWindow, TurboAndPause) {
    Start();
    SetWaitstates(RealSpeedWaitstates);
    DisplayWidget* display = window->Display();
    // The pace in T-states per tick the machine took, over ten ticks after the one in which the
    // pace changed: a real ABC80 runs 60,000 a tick however fast the host is; turbo runs what the
    // host manages between two ticks, many times that on any host that runs these tests.
    auto tstates_per_tick = [] {
        const uint64_t changed = SystemReadCounts().ticks;
        SystemCounts before{};
        if (!WaitFor([&] { return (before = SystemReadCounts()).ticks > changed; }) ||
            !WaitFor([&] { return SystemReadCounts().ticks >= before.ticks + 10; })) {
            ADD_FAILURE() << "the machine took no eleven ticks";
            return uint64_t(0);
        }
        const SystemCounts after = SystemReadCounts();
        return (after.tstates - before.tstates) / (after.ticks - before.ticks);
    };
    const uint64_t real_pace_limit = TstatesPerTick * 3 / 2; // a period's worth of slack
    EXPECT_LT(tstates_per_tick(), real_pace_limit) << "a real ABC80's pace";

    for (const char* how : {"key", "menu"}) {
        if (how == std::string("key"))
            SendKey(display, QEvent::KeyPress, Qt::Key_F9, 67);
        else
            window->Action("turbo")->trigger();
        EXPECT_TRUE(SystemTurbo()) << how;
        EXPECT_GT(tstates_per_tick(), 2 * TstatesPerTick) << how;
        window->Status()->Update();
        EXPECT_TRUE(WaitFor([&] {
            window->Status()->Update();
            return Speed().find("Turbo") != std::string::npos;
        })) << Speed();
        if (how == std::string("key")) {
            SendKey(display, QEvent::KeyRelease, Qt::Key_F9, 67, true); // auto-repeat: still held
            EXPECT_TRUE(SystemTurbo());
            SendKey(display, QEvent::KeyRelease, Qt::Key_F9, 67);
        } else {
            window->Action("turbo")->trigger();
        }
        EXPECT_FALSE(SystemTurbo()) << how;
        EXPECT_EQ(Waitstates(), RealSpeedWaitstates) << "turbo never reaches the settings";
        EXPECT_LT(tstates_per_tick(), real_pace_limit) << how;
    }
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName));

    // Turbo held while the screen loses the keyboard ends with it.
    SendKey(display, QEvent::KeyPress, Qt::Key_F9, 67);
    EXPECT_TRUE(SystemTurbo());
    display->clearFocus();
    EXPECT_FALSE(SystemTurbo());

    window->Action("pause")->trigger();
    ASSERT_TRUE(SystemPaused());
    ASSERT_TRUE(WaitFor([] { return ProcessorPaused(); }));
    // A frame asked for just before the pause may still be on its way: once the clock has let a
    // tick pass and the render thread sleeps, the window has been handed the last one.
    uint64_t withheld = SystemTicksWithheld();
    ASSERT_TRUE(WaitFor([&] { return SystemTicksWithheld() > withheld; }));
    ASSERT_TRUE(WaitFor([] { return SystemRenderIdle(); }));
    QApplication::processEvents();
    const QImage picture = window->Display()->Picture();
    const uint64_t paused_at = SystemReadCounts().instructions;
    // Twenty ticks' time, more than a blink of the cursor, each tick let pass.
    withheld = SystemTicksWithheld();
    bool still = true;
    ASSERT_TRUE(WaitFor([&] {
        still = still && SystemReadCounts().instructions == paused_at &&
                window->Display()->Picture() == picture;
        return SystemTicksWithheld() >= withheld + 20;
    }));
    EXPECT_TRUE(still) << "nothing runs and the picture stays";
    window->Status()->Update();
    EXPECT_NE(Speed().find("Paused"), std::string::npos) << Speed();
    window->Action("pause")->trigger();
    EXPECT_FALSE(SystemPaused());
    EXPECT_TRUE(WaitFor([&] { return SystemReadCounts().instructions != paused_at; }));
}

// Status messages go after a few seconds; a paste made of nothing the ABC80 has says so.
TEST_F(ShellComfortWindow, MessagesFade) {
    Start();
    window->Typist()->TypeText(QByteArray("\xE2\x82\xAC\xE2\x98\x83"), "Paste"); // euro sign, snowman
    QLabel* typing = window->Status()->TypingField();
    EXPECT_TRUE(typing->isVisible());
    EXPECT_TRUE(typing->text().contains("nothing to type")) << typing->text().toStdString();
    EXPECT_TRUE(typing->text().contains("2 characters")) << typing->text().toStdString();
    EXPECT_TRUE(WaitFor([&] { return !typing->isVisible(); }, 15000));
}

// F12 saves at once into the pictures folder's Lunabrik/ under a new time-stamped name each time;
// a folder that cannot be made is said in the status bar and nothing else happens.
TEST_F(ShellComfortWindow, ScreenshotInOneKey) {
    Start();
    const QString pictures = QDir::currentPath() + "/My Pictures";
    qputenv("XDG_PICTURES_DIR", pictures.toUtf8());
    window->Action("saveScreenshot")->trigger();
    window->Action("saveScreenshot")->trigger();
    QDir shots(pictures + "/Lunabrik");
    const QStringList saved = shots.entryList({"lunabrik-*.png"}, QDir::Files);
    ASSERT_EQ(saved.size(), 2) << "the second press in the same second makes a second file";
    QImage picture(shots.filePath(saved[0]));
    EXPECT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), picture.height());
    const QString said = window->Status()->NoticeField()->text();
    EXPECT_TRUE(said.contains(shots.path())) << said.toStdString();
    EXPECT_TRUE(window->Status()->NoticeField()->isVisible());

    folder.WriteFile("blocker", "not a folder");
    qputenv("XDG_PICTURES_DIR", (QDir::currentPath() + "/blocker").toUtf8());
    window->Action("saveScreenshot")->trigger();
    EXPECT_TRUE(window->Status()->NoticeField()->text().startsWith("Cannot save the screenshot"))
        << window->Status()->NoticeField()->text().toStdString();
    qunsetenv("XDG_PICTURES_DIR");
}

// Characters an input method composed (a dead acute then E, a compose sequence for a typographic
// quote) reach the machine as the keys that give them.
TEST_F(ShellComfortWindow, ComposedCharactersAreTyped) {
    Start();
    for (const char* text : {"\xC3\x89", "\xC3\xBC", "\xE2\x80\x9C"}) { // É, ü, “
        QInputMethodEvent event;
        event.setCommitString(QString::fromUtf8(text));
        QApplication::sendEvent(window->Display(), &event);
    }
    EXPECT_TRUE(WaitFor([] {
        return ScreenAsText().find("\xC3\x89\xC3\xBC\"") != std::string::npos;
    })) << ScreenAsText();
}

// A drag over the screen copies the rectangle of cells under it to the clipboard and the primary
// selection, whichever corner it starts from and however far outside the window it ends.
TEST_F(ShellComfortWindow, MouseSelectionCopiesARectangle) {
    Start();
    DisplayWidget* display = window->Display();
    const QRectF place = display->PictureRect();
    auto cell = [&](double column, double row) { // the middle of a cell, or beyond the screen
        return QPointF(place.left() + (column + 0.5) * place.width() / 40,
                       place.top() + (row + 0.5) * place.height() / 24);
    };
    auto drag = [&](QPointF from, QPointF to) {
        QMouseEvent press(QEvent::MouseButtonPress, from, display->mapToGlobal(from),
                          Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(display, &press);
        QMouseEvent move(QEvent::MouseMove, to, display->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(display, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, display->mapToGlobal(to),
                            Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(display, &release);
        return QApplication::clipboard()->text().toStdString();
    };
    const std::string screen = ScreenAsText();
    const std::string line0 = screen.substr(0, screen.find('\n'));
    const std::string line1 =
        screen.substr(line0.size() + 1, screen.find('\n', line0.size() + 1) - line0.size() - 1);
    ASSERT_GE(line0.size(), 8u);
    ASSERT_GE(line1.size(), 5u);
    const struct {
        QPointF from, to;
        std::string text;
    } cases[] = {
        {cell(0, 0), cell(4, 1), line0.substr(0, 5) + "\n" + line1.substr(0, 5)},
        {cell(4, 1), cell(0, 0), line0.substr(0, 5) + "\n" + line1.substr(0, 5)},
        {cell(2, 0), cell(5, 0), line0.substr(2, 4)},
        {cell(3, 0), cell(-20, -30), line0.substr(0, 4)}, // dragged out past the top left
        {cell(0, 22), cell(90, 80), "\n"},                // two blank rows, to the bottom right
    };
    for (const auto& c : cases) {
        EXPECT_EQ(drag(c.from, c.to), c.text);
        if (QApplication::clipboard()->supportsSelection()) {
            EXPECT_EQ(QApplication::clipboard()->text(QClipboard::Selection).toStdString(), c.text);
        }
    }
    EXPECT_EQ(display->SelectedText().toStdString(), "\n");
    // A click without a drag selects nothing and copies nothing.
    QApplication::clipboard()->setText("before");
    QTest::mouseClick(display, Qt::LeftButton, {}, cell(1, 1).toPoint());
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "before");
    EXPECT_TRUE(display->SelectedText().isEmpty());
}

// View > CRT look paints the picture with scanlines and glow (in the phosphor's colour, no longer
// two-tone), is remembered for the next start, and turned off paints it plain again.
TEST_F(ShellComfortWindow, CrtLookIsChosenAndRemembered) {
    Start();
    DisplayWidget* display = window->Display();
    QAction* crt = window->Action("crtLook");
    ASSERT_TRUE(crt && crt->isCheckable());
    EXPECT_FALSE(crt->isChecked()) << "off for a new user";
    auto colours_in = [](const QImage& picture) {
        const QImage image = picture.convertToFormat(QImage::Format_RGB32);
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        return colours.size();
    };
    auto painted_colours = [&] {
        const uint64_t paints = display->Paints();
        display->update();
        EXPECT_TRUE(WaitFor([&] { return display->Paints() > paints; }));
        return colours_in(display->Painted());
    };
    // The picture shows the screen's text; paused, no new frame comes in between.
    ASSERT_TRUE(WaitFor([&] { return colours_in(display->Picture()) == 2; }));
    window->Action("pause")->trigger();
    ASSERT_TRUE(WaitFor([] { return SystemPaused(); }));
    EXPECT_LE(painted_colours(), 2);
    crt->trigger();
    EXPECT_TRUE(display->CrtLook());
    EXPECT_GT(painted_colours(), 2);
    window->Action("pause")->trigger();
    window->close();
    window.reset();
    Start();
    EXPECT_TRUE(window->Action("crtLook")->isChecked());
    EXPECT_TRUE(window->Display()->CrtLook());
    window->Action("pause")->trigger();
    ASSERT_TRUE(WaitFor([] { return SystemPaused(); }));
    window->Action("crtLook")->trigger();
    display = window->Display();
    EXPECT_LE(painted_colours(), 2);
    window->Action("pause")->trigger();
}

// Power off and on loads the images afresh, so what a program wrote into the ROM area is gone,
// and the machine boots again; pause ends with it.
TEST_F(ShellComfortWindow, PowerCycleLoadsTheImagesAfresh) {
    Start();
    const uint8_t rom_byte = SystemPeek(0x0010);
    window->Action("pause")->trigger();
    ASSERT_TRUE(WaitFor([] { return ProcessorPaused(); }));
    MachineMemory[0x0010] = uint8_t(~rom_byte); // as a POKE into the ROM area would
    // Slowed right down, the BASIC cannot print READY again before the screen is looked at.
    SystemSetRunPace(true, 1 << 20);
    window->Action("powerCycle")->trigger();
    EXPECT_EQ(SystemPeek(0x0010), rom_byte);
    EXPECT_FALSE(SystemPaused());
    EXPECT_FALSE(window->Action("pause")->isChecked());
    EXPECT_EQ(ScreenAsText().find("READY"), std::string::npos) << "the screen was cleared";
    SystemSetRunPace(false);
    EXPECT_TRUE(WaitFor([] { return ScreenAsText().find("READY") != std::string::npos; }))
        << ScreenAsText();
}

// The television aspect: whole scales per axis, 4k across and 3k down, the largest that fits.
TEST(ShellComfort, TelevisionAspectScalesEachAxisWhole) {
    DisplayWidget display;
    const struct {
        int width, height, max_factor;
        QSize factors;
    } cases[] = {
        {1000, 800, 0, {4, 3}},  {2000, 1500, 0, {8, 6}}, {2000, 1500, 1, {4, 3}},
        {1919, 1440, 0, {4, 3}}, {500, 400, 0, {4, 3}},   {3000, 1500, 0, {8, 6}},
    };
    display.SetTelevisionAspect(true);
    for (const auto& c : cases) {
        display.resize(c.width, c.height);
        display.SetMaxFactor(c.max_factor);
        EXPECT_EQ(display.AxisFactors(), c.factors) << c.width << "x" << c.height;
        const QRectF place = display.PictureRect();
        EXPECT_DOUBLE_EQ(place.width() * 3, place.height() * 4) << c.width << "x" << c.height;
    }
    display.SetTelevisionAspect(false);
    display.resize(1000, 800);
    display.SetMaxFactor(0);
    EXPECT_EQ(display.AxisFactors().width(), display.AxisFactors().height());
}

// Help > The free BASIC shows the README's own section on it, whole and alone, and Help > Keyboard
// the key map; both help windows open without stopping the machine.
TEST(ShellComfort, HelpShowsTheReadmesBasic) {
    const std::string basic = BasicHelpText().toStdString();
    EXPECT_EQ(basic.rfind("## The free BASIC", 0), 0u) << basic.substr(0, 80);
    for (const char* word : {"PRINT", "GOSUB", "INPUT", "SAVE", "LOAD", "floating point",
                             "Mosaic graphics", "INP(56)"})
        EXPECT_NE(basic.find(word), std::string::npos) << word;
    EXPECT_EQ(basic.find("\n## "), std::string::npos) << "no other section";
    // The key map comes from docs/help/keyboard.md, the file the browser page shows too.
    const std::string keys = KeyboardHelpText().toStdString();
    for (const char* words : {"## Keyboard as typed", "Ctrl-C stops", "| `$` | ¤ |"})
        EXPECT_NE(keys.find(words), std::string::npos) << words;
    QWidget parent;
    for (const QString& text : {KeyboardHelpText(), BasicHelpText()}) {
        ShowHelp(&parent, "Help", text);
        auto* shown = parent.findChildren<QDialog*>("help").value(0);
        ASSERT_TRUE(shown);
        EXPECT_TRUE(shown->isVisible());
        EXPECT_FALSE(shown->isModal());
        delete shown;
    }
}

// File > Recent programs: the files typed in, newest first, each once, the oldest dropped.
TEST_F(ShellComfortWindow, RecentPrograms) {
    Start();
    for (int n = 1; n <= 10; ++n) {
        folder.WriteFile("P" + std::to_string(n) + ".BAS", std::to_string(n) + " REM\n");
        ASSERT_TRUE(window->Typist()->TypeFile(QString("P%1.BAS").arg(n)));
    }
    ASSERT_TRUE(window->Typist()->TypeFile("P4.BAS"));
    QStringList names;
    for (const QString& path : TypingController::RecentPrograms())
        names << QFileInfo(path).fileName();
    EXPECT_EQ(names.join(" ").toStdString(),
              "P4.BAS P10.BAS P9.BAS P8.BAS P7.BAS P6.BAS P5.BAS P3.BAS");
    EXPECT_TRUE(QFileInfo(TypingController::RecentPrograms().value(0)).isAbsolute());
    auto* menu = window->findChild<QMenu*>("recentPrograms");
    ASSERT_TRUE(menu);
    emit menu->aboutToShow();
    EXPECT_EQ(menu->actions().size(), 8);
    window->Typist()->CancelTyping();
}
