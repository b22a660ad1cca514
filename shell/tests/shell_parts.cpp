// The shell's small parts on their own: the command line, the speed figure, the window's
// emulation driver and where the debugger window goes.
#include "shell/command_line.h"
#include "shell/emulation_driver.h"
#include "shell/preferences.h"
#include "shell/speed_meter.h"
#include "system/system.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

int Parse(std::vector<const char*> args, CommandLine& line) {
    args.insert(args.begin(), "lunabrik");
    return ParseCommandLine(int(args.size()), const_cast<char**>(args.data()), line);
}

TEST(ShellCommandLine, OptionsAndExitCodes) {
    const struct {
        std::vector<const char*> args;
        int code;
        const char* out; // expected in standard output (code 0) or error (code 2)
        const char* file;
    } cases[] = {
        {{}, -1, "", ""},
        {{"--help"}, 0, "usage: lunabrik", ""},
        {{"-h"}, 0, "--version", ""},
        {{"--version"}, 0, "lunabrik " LUNABRIK_VERSION "\n", ""},
        {{"--bogus"}, 2, "unknown option: --bogus", ""},
        {{"-x", "PROG.BAS"}, 2, "usage:", ""},
        {{"PROG.BAS"}, -1, "", "PROG.BAS"},
        {{"-platform", "offscreen", "PROG.BAS"}, -1, "", "PROG.BAS"},
        {{"-platform"}, 2, "missing value", ""},
        {{"A.BAS", "B.BAS"}, 2, "more than one", ""},
        {{"--", "-odd.bas"}, -1, "", "-odd.bas"},
        {{"/abs/P.BAS"}, -1, "", "/abs/P.BAS"},
        {{"--dir"}, 2, "missing folder", ""},
        {{"--dir", "/tmp/x", "Q.BAS"}, -1, "", "Q.BAS"},
        {{"--speed", "real", "--fullscreen"}, -1, "", ""},
        {{"--speed", "100000000"}, -1, "", ""},
        {{"--speed", "100000001"}, 2, "--speed takes", ""},
        {{"--speed", "-5"}, 2, "--speed takes", ""},
        {{"--speed", "fast"}, 2, "--speed takes", ""},
        {{"--speed", "250%"}, -1, "", ""},
        {{"--speed", "0%"}, 2, "--speed takes", ""},
        {{"--speed", "1001%"}, 2, "--speed takes", ""},
        {{"--speed", "2x%"}, 2, "--speed takes", ""},
        {{"--speed"}, 2, "missing value", ""},
        {{"--run"}, 2, "--run needs a program file", ""},
        {{"--run", "R.BAS"}, -1, "", "R.BAS"},
    };
    char here[4096];
    ASSERT_TRUE(getcwd(here, sizeof here));
    for (const auto& c : cases) {
        CommandLine line;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = Parse(c.args, line);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(code, c.code) << what;
        EXPECT_NE((code == 2 ? err : out).find(c.out), std::string::npos) << what << out << err;
        if (code == -1) {
            // A relative program file is named from where the program started.
            std::string want = c.file;
            if (!want.empty() && want[0] != '/') want = std::string(here) + "/" + want;
            EXPECT_EQ(line.program_file, want) << what;
            EXPECT_EQ(line.dir, what == "--dir" ? "/tmp/x" : "") << what;
            EXPECT_EQ(line.run, what == "--run") << what;
            EXPECT_EQ(line.speed_given, what == "--speed") << what;
            if (line.speed_given) {
                const std::string speed = c.args[1];
                EXPECT_EQ(line.speed, speed == "real" || speed.back() == '%' ? -1 : 100000000)
                    << what;
                EXPECT_EQ(line.speed_percent, speed == "250%" ? 250 : 100) << what;
            }
            EXPECT_EQ(line.full_screen, c.args.size() == 3 && what == "--speed") << what;
        }
    }
}

TEST(ShellSpeedMeter, PercentOfThreeMegahertzOverTheLastSecond) {
    SpeedMeter meter;
    SpeedFigure f{};
    EXPECT_FALSE(meter.Figure(f)) << "one sample is no speed";
    meter.Add(0.0, 0, 0);
    EXPECT_FALSE(meter.Figure(f));
    // Two seconds at full speed (300 %), then one at real speed: the figure covers the last
    // second only.
    for (int i = 1; i <= 8; ++i)
        meter.Add(i * 0.25, uint64_t(i) * 500000, uint64_t(i) * 2250000);
    ASSERT_TRUE(meter.Figure(f));
    EXPECT_NEAR(f.percent, 300, 1e-9);
    EXPECT_NEAR(f.mips, 2.0, 1e-9);
    for (int i = 9; i <= 12; ++i)
        meter.Add(i * 0.25, 4000000 + uint64_t(i - 8) * 100000,
                  18000000 + uint64_t(i - 8) * 750000);
    ASSERT_TRUE(meter.Figure(f));
    EXPECT_NEAR(f.percent, 100, 1e-9);
    EXPECT_NEAR(f.mips, 0.4, 1e-9);
    // Counters that start again (a new processor) start the window afresh.
    meter.Add(3.25, 10, 10);
    EXPECT_FALSE(meter.Figure(f));
    meter.Add(3.5, 10, 10);
    ASSERT_TRUE(meter.Figure(f));
    EXPECT_EQ(f.percent, 0);
}

// Turbo runs while the menu's toggle or the held key asks for it, whichever let go first; the
// speed figure is restarted on each change of pace and only then. Pause is reported as the
// machine has it.
TEST(ShellEmulationDriver, TurboAndPauseFollowEveryAsker) {
    enum Who { Menu, Key };
    const struct {
        Who who;
        bool on;
        bool turbo;
        int pace_changes; // so far
    } steps[] = {
        {Key, true, true, 1},    {Menu, true, true, 1},  {Key, false, true, 1},
        {Menu, false, false, 2}, {Key, false, false, 2}, {Menu, true, true, 3},
        {Menu, true, true, 3},   {Key, true, true, 3},   {Menu, false, true, 3},
        {Key, false, false, 4},
    };
    {
        EmulationDriver driver(true, nullptr);
        QSignalSpy pace(&driver, &EmulationDriver::PaceChanged);
        for (size_t i = 0; i < std::size(steps); ++i) {
            if (steps[i].who == Menu)
                driver.SetTurboChosen(steps[i].on);
            else
                driver.SetTurboHeld(steps[i].on);
            EXPECT_EQ(driver.Turbo(), steps[i].turbo) << "step " << i;
            EXPECT_EQ(SystemTurbo(), steps[i].turbo) << "step " << i;
            EXPECT_EQ(pace.count(), steps[i].pace_changes) << "step " << i;
        }

        QSignalSpy pause(&driver, &EmulationDriver::PauseChanged);
        for (bool paused : {true, true, false}) {
            driver.SetPaused(paused);
            EXPECT_EQ(SystemPaused(), paused);
            ASSERT_FALSE(pause.isEmpty());
            EXPECT_EQ(pause.takeLast().at(0).toBool(), paused);
        }
        driver.SetTurboChosen(true);
    }
    EXPECT_FALSE(SystemTurbo()) << "a stopped machine is left at its real pace";
}

// The debugger window goes beside the main window where the screen has room (narrower if it must),
// else over as little of it as can be, and always on the screen.
TEST(ShellPlaceBeside, RightLeftOrTheRoomierEdge) {
    const QRect screen(0, 0, 1920, 1080);
    const struct {
        const char* what;
        QRect main;
        QSize size;
        int least;
        QRect placed;
    } cases[] = {
        {"room on the right", {0, 0, 800, 700}, {600, 500}, 400, {800, 0, 600, 500}},
        {"room on the left only", {1200, 100, 700, 700}, {600, 500}, 400, {600, 100, 600, 500}},
        {"narrower beside it", {100, 50, 1400, 700}, {600, 500}, 400, {1500, 50, 420, 500}},
        {"room on neither: the roomier edge",
         {100, 50, 1400, 700},
         {600, 500},
         500,
         {1320, 50, 600, 500}},
        {"kept on the screen below", {0, 900, 800, 170}, {600, 500}, 400, {800, 580, 600, 500}},
        {"larger than the screen", {0, 0, 800, 700}, {3000, 2000}, 400, {800, 0, 1120, 1080}},
    };
    for (const auto& c : cases) {
        const QRect placed = PlaceBeside(c.main, c.size, c.least, screen);
        EXPECT_EQ(placed, c.placed) << c.what;
        EXPECT_TRUE(screen.contains(placed)) << c.what;
    }
}

} // namespace
