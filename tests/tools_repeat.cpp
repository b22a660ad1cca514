// Repeatability across builds: the runs of tests/data/repeat/runs.txt (typed programs at full speed
// and at a real ABC80's pace, odd tick budgets, the key pacer, a pacing wait, a saved and loaded
// machine, the debugger's stops) give exactly the output recorded there, screen for screen and
// count for count. A change of the processor's loop or of the tick must not move a single
// instruction; re-record (record.sh) only for a change that is meant to alter what runs.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Repeat, RunsGiveTheRecordedScreensAndCounts) {
    const std::string images = LUNABRIK_IMAGES;
    if (!std::filesystem::exists(images + "/basic.rom"))
        GTEST_SKIP() << "the free ROM is not built";
    const std::filesystem::path data = std::filesystem::path(LUNABRIK_TEST_DATA) / "repeat";
    ScratchFolder folder;
    const std::string command = "'" + (data / "record.sh").string() + "' '" + LUNABRIK_HEADLESS +
                                "' '" + images + "' '" + LUNABRIK_FONT + "' '" + folder.path() +
                                "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    int runs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() != ".out") continue;
        ++runs;
        const std::string seen =
            ReadText(std::filesystem::path(folder.path()) / entry.path().filename());
        EXPECT_EQ(seen, ReadText(entry.path())) << "run " << entry.path().stem();
    }
    EXPECT_GE(runs, 8);
}

} // namespace
