// Start-up as the front ends share it: what each missing or odd file gives, and with which policy.
#include "system/startup.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Said = std::pair<StartupEvent, StartupPolicy>;

std::vector<Said> Events(const StartupReport& report) {
    std::vector<Said> out;
    for (const StartupMessage& m : report.messages)
        out.push_back({m.event, m.policy});
    return out;
}

// Lunabrik.cfg with this waitstates and the default files folder.
std::string Settings(uint32_t waitstates) {
    std::string file(260, '\0');
    for (int i = 0; i < 4; ++i)
        file[i] = char(waitstates >> (8 * i));
    file.replace(4, 6, "Files/");
    return file;
}

} // namespace

TEST(SystemStartUp, EachMessageHasItsOnePolicy) {
    constexpr auto Stop = StartupPolicy::Stop, Warn = StartupPolicy::Warn,
                   Note = StartupPolicy::Note;
    const struct {
        const char* what;
        const char* leave_out; // an image not written
        std::string settings;  // Lunabrik.cfg, none when empty
        bool create_files_folder;
        bool started;
        std::vector<Said> said;
        const char* named; // a word the first message holds
    } cases[] = {
        {"all there", nullptr, "", false, true, {}, nullptr},
        {"Files/ made", nullptr, "", true, true, {{StartupEvent::FilesFolderMade, Note}}, "Files/"},
        {"no font.bin",
         "font.bin",
         "",
         false,
         true,
         {{StartupEvent::FontMissing, Note}},
         "font.bin"},
        {"no basic.rom",
         "basic.rom",
         "",
         true,
         false,
         {{StartupEvent::ImageMissing, Stop}},
         "basic.rom"},
        {"no dev_dos.rom",
         "dev_dos.rom",
         "",
         false,
         false,
         {{StartupEvent::ImageMissing, Stop}},
         "dev_dos.rom"},
        {"waitstates as text",
         nullptr,
         Settings(0x20202020),
         false,
         true,
         {{StartupEvent::SlowSpeed, Warn}},
         "Lunabrik.cfg"},
        {"a real ABC80's pace", nullptr, Settings(uint32_t(-1)), false, true, {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachineForTest();
        ScratchFolder folder;
        for (const char* image : {"basic.rom", "dev_dos.rom", "font.bin"})
            if (!c.leave_out || std::string(image) != c.leave_out)
                folder.WriteFile(image, std::string(64, '\x76'));
        if (!c.settings.empty()) folder.WriteFile("Lunabrik.cfg", c.settings);
        StartupOptions options;
        options.create_files_folder = c.create_files_folder;
        options.how_to_set_speed = "set it in the test";
        StartupReport report;
        EXPECT_EQ(SystemStartUp(options, report), c.started);
        EXPECT_EQ(report.started, c.started);
        EXPECT_EQ(Events(report), c.said);
        EXPECT_EQ(report.Stopped() != nullptr, !c.started);
        EXPECT_EQ(report.folder, folder.path());
        if (!c.named) continue;
        ASSERT_FALSE(report.messages.empty());
        EXPECT_NE(report.messages[0].text.find(c.named), std::string::npos)
            << report.messages[0].text;
        if (!c.started) {
            EXPECT_EQ(report.missing_image, c.leave_out);
            EXPECT_NE(report.messages[0].text.find(folder.path()), std::string::npos)
                << "the folder looked in";
        }
        if (c.said[0].first == StartupEvent::SlowSpeed) {
            EXPECT_NE(report.messages[0].text.find("set it in the test"), std::string::npos);
        }
    }
}

// The data folder is entered first; names the user gives stay relative to where the program
// started, and a folder that cannot be entered stops the start.
TEST(SystemStartUp, EntersTheDataFolderAndKeepsNamesFromTheStart) {
    ResetMachineForTest();
    ScratchFolder folder;
    const std::string named = SystemPathFromStart("shot.png");
    EXPECT_EQ(named.substr(named.size() - 9), "/shot.png");
    EXPECT_EQ(SystemPathFromStart("/tmp/x.png"), "/tmp/x.png");
    EXPECT_EQ(SystemPathFromStart(""), "");

    ASSERT_EQ(mkdir("data", 0700), 0);
    for (const char* image : {"basic.rom", "dev_dos.rom", "font.bin"})
        folder.WriteFile(std::string("data/") + image, std::string(64, '\x76'));
    StartupOptions options;
    options.choose_folder = true;
    options.folder = "data";
    StartupReport report;
    ASSERT_TRUE(SystemStartUp(options, report)) << report.Texts(StartupPolicy::Stop, "\n");
    EXPECT_EQ(report.folder, folder.path() + "/data");
    char here[4096];
    ASSERT_TRUE(getcwd(here, sizeof here));
    EXPECT_EQ(std::string(here), report.folder);
    EXPECT_EQ(SystemPathFromStart("shot.png"), named) << "read once, before the folder changed";

    folder.WriteFile("plain", "not a folder");
    options.folder = "../plain";
    EXPECT_FALSE(SystemStartUp(options, report));
    EXPECT_EQ(Events(report),
              (std::vector<Said>{{StartupEvent::FolderRefused, StartupPolicy::Stop}}));
}
