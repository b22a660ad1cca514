// The settings record and Lunabrik.cfg: reading files of any length, writing safely.
#include "host/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string Folder() {
    char out[FilesFolderSize];
    CopyFilesFolder(out);
    return out;
}

// A settings image: waitstates 0x12345678 little-endian, then the folder field.
std::string Image(const std::string& field, size_t size) {
    std::string image = std::string("\x78\x56\x34\x12", 4) + field;
    image.resize(size, '\0');
    return image;
}

TEST(Settings, FilesOfEveryLengthLoad) {
    const std::string long_folder(300, 'a');
    struct Case {
        size_t size;
        int32_t waitstates;
        std::string folder;
    } cases[] = {
        {0, 0, ""},                                    // empty file: everything zero
        {2, 0x5678, ""},                               // part of waitstates
        {4, 0x12345678, ""},                           // waitstates only
        {259, 0x12345678, long_folder.substr(0, 255)}, // last byte stays zero
        {260, 0x12345678, long_folder.substr(0, 255)}, // no zero byte: ends at 255 characters
        {300, 0x12345678, long_folder.substr(0, 255)}, // bytes past the record are ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ScratchFolder folder;
        folder.WriteFile(SettingsFileName, Image(long_folder, c.size));
        SetFilesFolder("left over");
        SetWaitstates(-5);
        ReadSettings();
        EXPECT_EQ(Waitstates(), c.waitstates);
        EXPECT_EQ(Folder(), c.folder);
    }
}

TEST(Settings, MissingFileGivesDefaults) {
    ScratchFolder folder;
    std::memset(Settings.files_folder, 'x', FilesFolderSize);
    SetWaitstates(7);
    ReadSettings();
    EXPECT_EQ(Waitstates(), 0);
    EXPECT_EQ(Folder(), "Files/");
    for (int i = 6; i < FilesFolderSize; ++i)
        ASSERT_EQ(Settings.files_folder[i], 0) << i;
}

// A Lunabrik.cfg that is no plain file counts as missing: the defaults, and start-up never waits
// (a FIFO with no writer would block a plain open and read for ever; the alarm ends a hang).
TEST(Settings, SettingsThatAreNoPlainFileGiveTheDefaults) {
    struct Case {
        const char* what;
        void (*make)();
    } cases[] = {
        {"folder", [] { std::filesystem::create_directory(SettingsFileName); }},
        {"FIFO", [] { ASSERT_EQ(mkfifo(SettingsFileName, 0666), 0); }},
        {"link to /dev/zero", [] { ASSERT_EQ(symlink("/dev/zero", SettingsFileName), 0); }},
        {"link to a FIFO",
         [] {
             ASSERT_EQ(mkfifo("fifo", 0666), 0);
             ASSERT_EQ(symlink("fifo", SettingsFileName), 0);
         }},
        {"dangling link", [] { ASSERT_EQ(symlink("nowhere", SettingsFileName), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        c.make();
        SetFilesFolder("");
        SetWaitstates(5);
        alarm(10);
        ReadSettings();
        alarm(0);
        EXPECT_EQ(Waitstates(), 0);
        EXPECT_EQ(Folder(), "Files/");
    }
    // A link to a plain file is the user's choice and is read.
    ScratchFolder folder;
    folder.WriteFile("real.cfg", Image("mine/", 260));
    ASSERT_EQ(symlink("real.cfg", SettingsFileName), 0);
    ReadSettings();
    EXPECT_EQ(Waitstates(), 0x12345678);
    EXPECT_EQ(Folder(), "mine/");
}

TEST(Settings, RandomFilesLoadAndFolderStaysInTheRecord) {
    ScratchFolder folder;
    std::mt19937 rng(80);
    for (int i = 0; i < 150; ++i) {
        std::string bytes(rng() % 400, '\0');
        for (char& b : bytes)
            b = char(rng() % 3 == 0 ? 0 : rng());
        folder.WriteFile(SettingsFileName, bytes);
        ReadSettings();
        bytes.resize(SettingsFileSize, '\0');
        uint32_t w = 0;
        for (int k = 3; k >= 0; --k)
            w = w << 8 | uint8_t(bytes[k]);
        ASSERT_EQ(Waitstates(), int32_t(w));
        std::string expected = bytes.substr(4, 255);
        expected.resize(strnlen(expected.c_str(), 255));
        ASSERT_EQ(Folder(), expected);
    }
}

TEST(Settings, WriteThenReadRestoresBothValuesAndTheWholeImage) {
    ScratchFolder folder;
    SetWaitstates(-123456);
    SetFilesFolder("some/folder/");
    ASSERT_TRUE(WriteSettings());
    std::string image = folder.ReadFile(SettingsFileName);
    ASSERT_EQ(image.size(), 260u);
    EXPECT_EQ(image.substr(0, 4), std::string("\xC0\x1D\xFE\xFF", 4)); // -123456 little-endian
    SetWaitstates(0);
    SetFilesFolder("");
    ReadSettings();
    EXPECT_EQ(Waitstates(), -123456);
    EXPECT_EQ(Folder(), "some/folder/");

    // The bytes after the folder's zero are written back as they were read.
    std::string odd = Image(std::string("dir/\0tail bytes", 15), 260);
    odd[259] = 'z';
    folder.WriteFile(SettingsFileName, odd);
    ReadSettings();
    ASSERT_TRUE(WriteSettings());
    EXPECT_EQ(folder.ReadFile(SettingsFileName), odd);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(Settings, FailedWriteReturnsZeroAndKeepsTheOldFile) {
    SetWaitstates(99);
    {
        ScratchFolder folder; // Lunabrik.cfg is a directory
        std::filesystem::create_directory(SettingsFileName);
        EXPECT_FALSE(WriteSettings());
        EXPECT_TRUE(std::filesystem::is_directory(SettingsFileName));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    }
    {
        ScratchFolder folder; // the disk fills up in the middle of the record
        const std::string old = Image("old/", 260);
        folder.WriteFile(SettingsFileName, old);
        bool result;
        {
            FileSizeLimit limit(100);
            result = WriteSettings();
        }
        EXPECT_FALSE(result);
        EXPECT_EQ(folder.ReadFile(SettingsFileName), old);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    }
    {
        ScratchFolder folder; // a working directory nobody may create files in, root included
        std::filesystem::current_path("/proc");
        EXPECT_FALSE(WriteSettings());
    }
}

TEST(Settings, SetFilesFolderKeepsAtMost255CharactersAndZeroesTheRest) {
    SetFilesFolder(std::string(300, 'q').c_str());
    EXPECT_EQ(Folder(), std::string(255, 'q'));
    SetFilesFolder("ab");
    EXPECT_EQ(Folder(), "ab");
    for (int i = 2; i < FilesFolderSize; ++i)
        ASSERT_EQ(Settings.files_folder[i], 0) << i;
}

TEST(SettingsThread, FolderIsNeverSeenHalfChanged) {
    const std::string first(200, 'a'), second = "b/";
    SetFilesFolder(first.c_str());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i)
            SetFilesFolder(i % 2 ? first.c_str() : second.c_str());
    });
    int torn = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string seen = Folder();
        if (seen != first && seen != second) ++torn;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}

} // namespace
