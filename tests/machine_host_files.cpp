// The host file service behind OUT 255: names, slots, block transfers, exclusive use, confinement.
#include "cpu/cpu_state.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"
#include "host_file_calls.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace host_file_calls;

std::string Pattern(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char(i * 7 + seed);
    return s;
}

class HostFiles : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        SetFilesFolder("Files/");
        fs::create_directory("Files");
    }
    void TearDown() override { CloseAllFileSlots(); }
    ScratchFolder folder;
};

TEST(HostFileNames, FromNameRecords) {
    ResetMachineForTest();
    struct Case {
        std::string record;
        const char* name; // nullptr: refused
    } cases[] = {
        {"PROG    BAS", "PROG.BAS"},
        {"A B     C  ", "AB.C"},
        {"K[RL    TXT", "K\xC3\x84RL.TXT"},
        {"[\\]{|}  ~  ", "\xC3\x84\xC3\x96\xC3\x85\xC3\xA4\xC3\xB6\xC3\xA5.~"},
        {"DATA       ", "DATA"},
        {"prog    bas", "prog.bas"},
        {"ABCDEFGHIJK", "ABCDEFGH.IJK"},
        {std::string("AB\0DEFGHTXT", 11), "AB"},
        {std::string("ABCDEFGHT\0X", 11), "ABCDEFGH.T"},
        {"..A     B  ", "..A.B"},
        {"\xE9       \xFF  ", "\xC3\xA9.\xC3\xBF"},
        {"A/B     TXT", nullptr},
        {"A\\B     TXT", "A\xC3\x96"
                         "B.TXT"}, // 0x5C is Ö, never a separator
        {"..      .. ", nullptr},
        {".          ", nullptr},
        {"           ", nullptr},
        {std::string("\0BC     TXT", 11), nullptr},
        {"A\x01      TXT", nullptr},
        {"A       T\x7F ", nullptr},
        {"A\x85      TXT", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        PutRecord(NameAt, c.record);
        char name[HostNameSize];
        EXPECT_EQ(HostNameFromRecord(NameAt, name), c.name != nullptr);
        EXPECT_STREQ(name, c.name ? c.name : "");
    }
    PutRecord(0xFFFA, "WRAP    BAS"); // the record runs on at 0x0000
    char name[HostNameSize];
    EXPECT_TRUE(HostNameFromRecord(0xFFFA, name));
    EXPECT_STREQ(name, "WRAP.BAS");
}

TEST_F(HostFiles, OpenPathsAreFolderPlusName) {
    EXPECT_EQ(Open(Create, 0, "PROG    BAS"), 0);
    EXPECT_TRUE(fs::is_regular_file("Files/PROG.BAS"));
    SetFilesFolder("");
    EXPECT_EQ(Open(Create, 1, "HERE    TXT"), 0); // empty folder: the working directory
    EXPECT_TRUE(fs::is_regular_file("HERE.TXT"));
    SetFilesFolder("Missing/");
    EXPECT_EQ(Open(Create, 2, "PROG    BAS"), 1);
    std::memset(Settings.files_folder, 'a', FilesFolderSize); // a field without a zero byte
    EXPECT_EQ(Open(Create, 3, "PROG    BAS"), 1);
}

TEST_F(HostFiles, OpenSetsHLForTheSlotWhetherOrNotItSucceeds) {
    folder.WriteFile("Files/X.DAT", "x");
    for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 255}) {
        SCOPED_TRACE(b);
        int slot = b < 8 ? b : 0;
        CpuState.HL = 0x1234;
        EXPECT_EQ(Open(OpenRead, uint8_t(b), "X       DAT"), 0);
        EXPECT_EQ(CpuState.HL, 0xF500 + 256 * slot);
        EXPECT_GE(FileSlots[slot].fd, 0);
        Service(Close, uint8_t(b), 0);
        EXPECT_LT(FileSlots[slot].fd, 0);
        CpuState.HL = 0x1234;
        EXPECT_EQ(Open(OpenRead, uint8_t(b), "NONE    DAT"), 1);
        EXPECT_EQ(CpuState.HL, 0xF500 + 256 * slot);
        EXPECT_LT(FileSlots[slot].fd, 0);
    }
}

TEST_F(HostFiles, OnlyTheOpensChangeARegisterAndThatIsHL) {
    folder.WriteFile("Files/X.DAT", Pattern(600, 1));
    PutRecord(NameAt, "X       DAT");
    CpuState = CpuRegisters{0x1122, 0x0542, NameAt, 0x8000, 0x3344, 0x5566, 0x7788, 0x99AA,
                            0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD, 0x12,   1,      1,      2};
    for (int op : {OpenRead, ReadBlock, WriteBlock, Close, Create, WriteBlock, Close}) {
        SCOPED_TRACE(op);
        CpuState.HL = 0x8000;
        CpuRegisters expected = CpuState;
        if (op <= Create) expected.HL = 0xFA00; // slot 5
        Out255(op);
        EXPECT_EQ(std::memcmp(&expected, &CpuState, sizeof expected), 0);
    }
}

TEST_F(HostFiles, PartialAndEmptyReadsLeaveTheRestOfMemory) {
    const std::string data = Pattern(300, 3);
    folder.WriteFile("Files/P.DAT", data);
    EXPECT_EQ(Open(OpenRead, 2, "P       DAT"), 0);
    Service(ReadBlock, 2, 0xF700);
    EXPECT_EQ(Memory(0xF700, 256), data.substr(0, 256));
    std::memset(MachineMemory + 0xF700, 0xEE, 256);
    Service(ReadBlock, 2, 0xF700);
    EXPECT_EQ(Memory(0xF700, 44), data.substr(256));
    EXPECT_EQ(Memory(0xF700 + 44, 212), std::string(212, '\xEE'));
    Service(ReadBlock, 2, 0xF700);
    EXPECT_EQ(Memory(0xF700, 256), data.substr(256) + std::string(212, '\xEE'));
    Service(ReadBlock, 2, 0xF700);
    EXPECT_EQ(Memory(0xF700, 256), data.substr(256) + std::string(212, '\xEE'));
}

TEST_F(HostFiles, CreateEmptiesAndBlocksAreWrittenWholeAndWrapAtTheTop) {
    folder.WriteFile("Files/W.DAT", std::string(1000, 'z'));
    EXPECT_EQ(Open(Create, 1, "W       DAT"), 0);
    EXPECT_EQ(fs::file_size("Files/W.DAT"), 0u);
    const std::string first = Pattern(256, 5), second = Pattern(256, 9);
    for (int i = 0; i < 256; ++i)
        WriteByte(uint16_t(0xF600 + i), uint8_t(first[i]));
    Service(WriteBlock, 1, 0xF600);
    // Visible to another reader at once, before the slot is closed.
    EXPECT_EQ(folder.ReadFile("Files/W.DAT"), first);
    for (int i = 0; i < 256; ++i)
        WriteByte(uint16_t(0xFF80 + i), uint8_t(second[i]));
    Service(WriteBlock, 1, 0xFF80); // 0xFF80-0xFFFF, then 0x0000-0x007F
    Service(Close, 1, 0);
    EXPECT_EQ(folder.ReadFile("Files/W.DAT"), first + second);

    EXPECT_EQ(Open(OpenRead, 1, "W       DAT"), 0);
    Service(ReadBlock, 1, 0xFFF0);
    EXPECT_EQ(Memory(0xFFF0, 256), first);
}

TEST_F(HostFiles, ReadSlotsDoNotWriteAndWriteSlotsDoNotRead) {
    const std::string data = Pattern(512, 11);
    folder.WriteFile("Files/R.DAT", data);
    EXPECT_EQ(Open(OpenRead, 0, "R       DAT"), 0);
    Service(WriteBlock, 0, 0x0000);
    Service(Close, 0, 0);
    EXPECT_EQ(folder.ReadFile("Files/R.DAT"), data);

    EXPECT_EQ(Open(Create, 4, "V       DAT"), 0);
    Service(WriteBlock, 4, 0x8000);
    std::memset(MachineMemory + 0x9000, 0x55, 256);
    Service(ReadBlock, 4, 0x9000);
    EXPECT_EQ(Memory(0x9000, 256), std::string(256, '\x55'));
    EXPECT_EQ(fs::file_size("Files/V.DAT"), 256u);
}

TEST_F(HostFiles, EmptySlotsAndStatusRules) {
    folder.WriteFile("Files/S.DAT", Pattern(256, 1));
    std::memset(MachineMemory + 0x9000, 0x66, 256);
    for (uint8_t status : {0, 1}) {
        SCOPED_TRACE(int(status));
        EXPECT_EQ(Open(OpenRead, 3, status ? "NOPE    DAT" : "S       DAT"), status);
        Service(ReadBlock, 3, status ? 0x9000 : 0xA000);
        Service(WriteBlock, 3, 0x9000);
        Service(Close, 3, 0);
        Service(Close, 3, 0); // a second close does nothing
        Service(ReadBlock, 3, 0x9000);
        Service(WriteBlock, 3, 0x9000);
        for (int op = 5; op < 256; op += 50)
            Service(op, 3, 0x9000);
        EXPECT_EQ(ReadInPort(HostFilePort), status);
        EXPECT_EQ(Memory(0x9000, 256), std::string(256, '\x66'));
    }
    EXPECT_EQ(folder.ReadFile("Files/S.DAT"), Pattern(256, 1));
    EXPECT_FALSE(fs::exists("Files/NOPE.DAT"));
}

TEST_F(HostFiles, ExclusiveUseAcrossSlotsAndProcesses) {
    folder.WriteFile("Files/E.DAT", "keep");
    folder.WriteFile("Files/F.DAT", "other");
    EXPECT_EQ(Open(OpenRead, 1, "E       DAT"), 0);
    EXPECT_EQ(Open(OpenRead, 2, "E       DAT"), 1);
    EXPECT_EQ(Open(Create, 2, "E       DAT"), 1);
    EXPECT_EQ(folder.ReadFile("Files/E.DAT"), "keep"); // a refused create truncates nothing
    // Reopening in the same slot closes the earlier file first.
    EXPECT_EQ(Open(OpenRead, 1, "E       DAT"), 0);
    // Other programs see the file as busy while a slot holds it.
    int other = open("Files/E.DAT", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    // An open into an occupied slot releases the earlier file.
    EXPECT_EQ(Open(OpenRead, 1, "F       DAT"), 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Open(OpenRead, 2, "E       DAT"), 1); // now the other program holds it
    close(other);
    EXPECT_EQ(Open(OpenRead, 2, "E       DAT"), 0);
    // Directories are not files.
    fs::create_directory("Files/D.DIR");
    EXPECT_EQ(Open(OpenRead, 6, "D       DIR"), 1);
}

// Every file the service opens is directly inside the files folder "sub/", and nothing outside it
// is created, changed or truncated, whatever bytes the name record holds.
TEST(HostFilesConfinement, RandomNameRecordsStayInTheFolder) {
    ScratchFolder folder;
    ResetMachineForTest();
    fs::create_directories("sub/inner");
    for (const char* name : {"A", "AB.C", "sub.x", "X.", "inner", "Files"})
        folder.WriteFile(name, std::string("outside ") + name);
    folder.WriteFile("sub/inner/DEEP", "deep");
    SetFilesFolder("sub/");
    const std::string sub = fs::canonical("sub").string();

    auto snapshot = [] {
        std::map<std::string, std::string> tree;
        for (auto& entry : fs::recursive_directory_iterator(".")) {
            std::string path = entry.path().string();
            if (path.rfind("./sub/", 0) == 0 && path.rfind("./sub/inner", 0) != 0) continue;
            std::string content = "dir";
            if (entry.is_regular_file()) {
                std::ifstream in(path, std::ios::binary);
                content.assign(std::istreambuf_iterator<char>(in), {});
            }
            tree[path] = content;
        }
        return tree;
    };
    const auto before = snapshot();

    // Bytes that matter for paths come often; the rest at random.
    const char interesting[] = {'.', '/', '\\', ' ', '\0', 'A', 'B', 'C', 'X', '[', '{', '~', '*'};
    std::mt19937 rng(12345);
    int opened = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string record(NameRecordSize, ' ');
        for (char& b : record)
            b = rng() % 4 ? interesting[rng() % sizeof interesting] : char(rng());
        uint8_t slot = uint8_t(rng() % 8);
        if (Open(rng() % 2 ? Create : OpenRead, slot, record) != 0) continue;
        ++opened;
        char link[PATH_MAX] = {};
        std::string fd_path = "/proc/self/fd/" + std::to_string(FileSlots[slot].fd);
        ASSERT_GT(readlink(fd_path.c_str(), link, sizeof link - 1), 0);
        fs::path target(link);
        ASSERT_EQ(target.parent_path().string(), sub) << link;
        if (rng() % 2) Service(Close, slot, 0);
    }
    CloseAllFileSlots();
    EXPECT_GT(opened, 100);
    EXPECT_EQ(snapshot(), before);
}

} // namespace
