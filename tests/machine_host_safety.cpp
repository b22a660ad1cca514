// The host file service against hostile folders and failing disks: links and hard links in the
// files folder, the program's own files, names that differ only in letter case, write failures
// reported to the front ends.
#include "cpu/cpu_state.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"
#include "host_file_calls.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace host_file_calls;

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(uint8_t(c)));
    return s;
}

std::string Listing(const std::string& folder) {
    std::set<std::string> names;
    for (auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    std::string all;
    for (const std::string& name : names)
        all += name + "|";
    return all;
}

HostFileWarning LatestWarning() {
    HostFileWarning w{};
    EXPECT_TRUE(ReadLatestHostFileWarning(w));
    return w;
}

// Everything under the working directory by kind and contents, without following links, except
// the plain single-link files directly in box/ (which the guest may create and change).
std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> tree;
    for (auto& entry : fs::recursive_directory_iterator(".")) {
        const fs::path& path = entry.path();
        fs::file_status status = entry.symlink_status();
        std::string what;
        if (fs::is_symlink(status)) {
            what = "link to " + fs::read_symlink(path).string();
        } else if (fs::is_regular_file(status)) {
            if (path.parent_path() == "./box" && fs::hard_link_count(path) == 1) continue;
            std::ifstream in(path, std::ios::binary);
            what.assign(std::istreambuf_iterator<char>(in), {});
            what += " links " + std::to_string(fs::hard_link_count(path));
        } else if (fs::is_directory(status)) {
            what = "folder";
        } else if (fs::is_fifo(status)) {
            what = "fifo";
        }
        tree[path.string()] = what;
    }
    return tree;
}

// The files folder box/ holds plain files beside symbolic links to inside and outside files and
// folders, dangling links, hard links, a FIFO and a subfolder. Random operations on records that
// name them in any letter case (or hold random bytes), with the folder field naming box in several
// ways, must never read an outside byte into memory, never open anything but a plain single-link
// file in box, and never create, empty or change anything outside it.
TEST(HostFilesConfinement, LinksInTheFolderLeadNowhere) {
    ScratchFolder folder;
    ResetMachineForTest();
    const std::string here = folder.path();
    std::string secret;
    for (int i = 0; i < 80; ++i)
        secret += "OUTSIDE!";
    fs::create_directories("outside/dir");
    fs::create_directories("box/SUB");
    for (const char* name : {"outside/S1", "outside/S2", "outside/HARDV", "outside/dir/S3", "TOP"})
        folder.WriteFile(name, secret);
    ASSERT_EQ(mkfifo("outside/FIFO", 0666), 0);
    folder.WriteFile("box/IN1.DAT", std::string(600, 'i'));
    folder.WriteFile("box/IN2.DAT", std::string(300, 'j'));
    folder.WriteFile("box/HIN.DAT", std::string(256, 'h'));
    folder.WriteFile("box/SUB/IN3.DAT", std::string(256, 'k'));
    ASSERT_EQ(link("box/HIN.DAT", "box/HIN2.DAT"), 0);
    ASSERT_EQ(link("outside/HARDV", "box/HARD.DAT"), 0);
    ASSERT_EQ(mkfifo("box/FIFO.DAT", 0666), 0);
    const std::pair<std::string, std::string> links[] = {
        {"IN1.DAT", "box/LIN.DAT"},
        {"../outside/S1", "box/OUT.DAT"},
        {here + "/outside/S2", "box/ABS.DAT"},
        {"../outside/NEW", "box/DANG.DAT"},
        {here + "/outside/NEW2", "box/DANGA.DAT"},
        {"../outside/dir", "box/LDIR"},
        {"../outside/FIFO", "box/LFIFO"},
        {"/dev/zero", "box/ZERO.DEV"},
        {"..", "box/UP"},
        {"../outside/S1", "box/low.dat"},
        {"box", "boxlink"}, // a folder link the user chose: followed
    };
    for (const auto& [target, name] : links)
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0) << name;
    const std::string box = fs::canonical("box").string();

    const std::string hostile[] = {"LIN.DAT",  "OUT.DAT",  "ABS.DAT",  "DANG.DAT", "DANGA.DAT",
                                   "HARD.DAT", "HIN.DAT",  "HIN2.DAT", "LDIR",     "LFIFO",
                                   "ZERO.DEV", "FIFO.DAT", "SUB",      "UP",       "LOW.DAT"};
    const std::string plain[] = {"IN1.DAT", "IN2.DAT", "NEW1.DAT", "NEW2.DAT", "NEW3"};
    std::set<std::string> hostile_lower;
    for (const std::string& name : hostile)
        hostile_lower.insert(Lower(name));
    const std::string folders[] = {"box/", "./box/", here + "/box/", "boxlink/", "box/H", "box/I"};
    const auto before = Snapshot();

    // An 11-byte record for a host name: name part and extension, space padded, random case.
    std::mt19937 rng(2024);
    auto record_for = [&](const std::string& name) {
        size_t point = name.find('.');
        std::string base = name.substr(0, point);
        std::string ext = point == std::string::npos ? "" : name.substr(point + 1);
        std::string record = base + std::string(8 - base.size(), ' ') + ext;
        record.resize(NameRecordSize, ' ');
        for (char& c : record)
            if (rng() % 2) c = char(std::tolower(uint8_t(c)));
        return record;
    };
    const char interesting[] = {'.', '/', ' ', '\0', 'A', 'D', 'N', 'X', '[', '{'};

    std::string current = "box/";
    SetFilesFolder(current.c_str());
    int opened = 0, hostile_tries = 0;
    for (int i = 0; i < 6000; ++i) {
        uint8_t slot = uint8_t(rng() % 8);
        uint16_t hl = uint16_t(rng() % 0xFF00);
        switch (rng() % 7) {
        case 0:
        case 1: {
            std::string record;
            if (rng() % 4 == 0) {
                record.assign(NameRecordSize, ' ');
                for (char& b : record)
                    b = rng() % 3 ? interesting[rng() % sizeof interesting] : char(rng());
            } else {
                std::string name = rng() % 2 ? hostile[rng() % std::size(hostile)]
                                             : plain[rng() % std::size(plain)];
                // With a prefix folder, the record holds the rest of the name.
                size_t prefix = current.size() - current.rfind('/') - 1;
                if (prefix && Lower(name.substr(0, 1)) == Lower(current.substr(current.size() - 1)))
                    name = name.substr(1);
                if (name.empty() || name[0] == '.') name = "X" + name;
                record = record_for(name);
            }
            char host[HostNameSize];
            bool is_hostile = false;
            int op = rng() % 2 ? Create : OpenRead;
            uint8_t status = Open(op, slot, record);
            if (HostNameFromRecord(NameAt, host)) {
                std::string full = current.substr(current.rfind('/') + 1) + host;
                is_hostile = hostile_lower.count(Lower(full)) > 0;
            }
            if (is_hostile) {
                ++hostile_tries;
                ASSERT_EQ(status, 1) << current << " " << record;
            }
            if (status != 0) break;
            ++opened;
            struct stat st;
            ASSERT_EQ(fstat(FileSlots[slot].fd, &st), 0);
            ASSERT_TRUE(S_ISREG(st.st_mode));
            ASSERT_EQ(st.st_nlink, 1u) << record;
            char target[PATH_MAX] = {};
            std::string fd_path = "/proc/self/fd/" + std::to_string(FileSlots[slot].fd);
            ASSERT_GT(readlink(fd_path.c_str(), target, sizeof target - 1), 0);
            ASSERT_EQ(fs::path(target).parent_path().string(), box) << target;
            break;
        }
        case 2: Service(Close, slot, 0); break;
        case 3:
            Service(ReadBlock, slot, hl);
            ASSERT_EQ(Memory(hl, 256).find("SIDE!OUT"), std::string::npos);
            break;
        case 4: Service(WriteBlock, slot, hl); break;
        case 5:
            current = folders[rng() % std::size(folders)];
            SetFilesFolder(current.c_str());
            break;
        default: // a plain file appears and goes, so creates meet existing names too
            if (rng() % 2)
                folder.WriteFile("box/NEW1.DAT", "new");
            else
                unlink("box/NEW2.DAT");
        }
    }
    CloseAllFileSlots();
    EXPECT_GT(opened, 500) << hostile_tries;
    EXPECT_GT(hostile_tries, 300) << opened;
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(
        std::search(MachineMemory, MachineMemory + MemorySize, secret.begin(), secret.begin() + 8),
        MachineMemory + MemorySize);
}

// When the files folder is the working directory, however it is named, the program's own files
// can be read but never opened for writing, in any letter case, existing or not.
TEST(HostFilesOwnFiles, NeverWrittenWhenTheFolderIsTheWorkingDirectory) {
    ScratchFolder folder;
    ResetMachineForTest();
    const char* own[] = {"Lunabrik.cfg", "basic.rom", "dev_dos.rom", "font.bin"};
    for (const char* name : own)
        folder.WriteFile(name, std::string("own ") + name);
    fs::create_directory("Files");
    ASSERT_EQ(symlink(".", "here"), 0);
    const std::string listing = Listing(".");

    const std::string folders[] = {"", "./", folder.path() + "/", "here/", "Files/../"};
    const char* records[] = {"LUNABRIKCFG", "lunabrikcfg", "LuNaBrIkcFg", "BASIC   ROM",
                             "basic   rom", "DEV_DOS ROM", "dev_dos rom", "FONT    BIN",
                             "font    bin", "FoNt    BiN"};
    for (const std::string& f : folders) {
        SetFilesFolder(f.c_str());
        for (const char* record : records) {
            SCOPED_TRACE(f + " " + record);
            uint32_t count = HostFileWarningCount();
            EXPECT_EQ(Open(Create, 2, record), 1);
            EXPECT_EQ(HostFileWarningCount(), count + 1);
            EXPECT_NE(std::string(LatestWarning().reason).find("own files"), std::string::npos);
            EXPECT_EQ(Open(OpenRead, 2, record), 0); // reading stays allowed
            Service(Close, 2, 0);
        }
    }
    // A folder field without a '/' is a name prefix, and cannot spell an own file either.
    SetFilesFolder("Lunabrik");
    EXPECT_EQ(Open(Create, 0, "        CFG"), 1);
    SetFilesFolder("dev_");
    EXPECT_EQ(Open(Create, 0, "dos     ROM"), 1);
    EXPECT_EQ(Open(OpenRead, 0, "dos     ROM"), 0);
    Service(Close, 0, 0);
    // Missing own files are not created either.
    fs::remove("font.bin");
    SetFilesFolder("");
    EXPECT_EQ(Open(Create, 0, "FONT    BIN"), 1);
    EXPECT_FALSE(fs::exists("font.bin") || fs::exists("FONT.BIN"));
    folder.WriteFile("font.bin", "own font.bin");

    for (const char* name : own)
        EXPECT_EQ(folder.ReadFile(name), std::string("own ") + name);
    EXPECT_EQ(Listing("."), listing);
    // In a folder of its own the same names are ordinary files.
    SetFilesFolder("Files/");
    EXPECT_EQ(Open(Create, 0, "BASIC   ROM"), 0);
    CloseAllFileSlots();
    EXPECT_TRUE(fs::is_regular_file("Files/BASIC.ROM"));
    EXPECT_EQ(folder.ReadFile("basic.rom"), "own basic.rom");
}

class HostFilesCase : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        fs::create_directory("Files");
        SetFilesFolder("Files/");
        for (const char* name : {"game.bas", "Two.txt", "TWO.TXT", "r\xC3\xA4ka.txt",
                                 "\xC3\x85\xC3\x96.DAT", "\xC3\xA9lan.txt",
                                 "\xC3\xBC"
                                 "ber.txt",
                                 "kal.txt", "\xC3\xB8.txt", "Exact.Txt", "exact.txt"})
            folder.WriteFile(std::string("Files/") + name, name);
        ASSERT_EQ(symlink("game.bas", "Files/link.bas"), 0);
        ASSERT_EQ(symlink("../outside", "Files/dang.bas"), 0);
    }
    void TearDown() override { CloseAllFileSlots(); }
    ScratchFolder folder;
};

// A name that is not there exactly opens the one file that differs from it only in letter case.
TEST_F(HostFilesCase, ReadFindsTheOneFileDifferingOnlyInCase) {
    struct Case {
        const char* record;
        const char* file; // nullptr: status 1
    } cases[] = {
        {"GAME    BAS", "game.bas"},
        {"gAmE    bAs", "game.bas"},
        {"two     txt", nullptr}, // Two.txt and TWO.TXT: ambiguous
        {"TWO     TXT", "TWO.TXT"},
        {"EXACT   TXT", nullptr},
        {"exact   txt", "exact.txt"},
        {"R[KA    TXT", "r\xC3\xA4ka.txt"},      // Ä finds ä
        {"}|      dat", "\xC3\x85\xC3\x96.DAT"}, // å ö find Å Ö
        {"\xC9LAN    TXT", "\xC3\xA9lan.txt"},   // É finds é
        {"\xDC"
         "BER    TXT",
         "\xC3\xBC"
         "ber.txt"},                 // Ü finds ü
        {"K[L     TXT", nullptr},    // Ä is not A
        {"\xD8       TXT", nullptr}, // Ø is not folded
        {"LINK    BAS", nullptr},    // the only candidate is a link
        {"DANG    BAS", nullptr},
        {"GAME    BA ", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        std::memset(MachineMemory + 0xF500, 0, 256);
        EXPECT_EQ(Open(OpenRead, 0, c.record), c.file ? 0 : 1);
        Service(ReadBlock, 0, 0xF500);
        EXPECT_STREQ(reinterpret_cast<const char*>(MachineMemory + 0xF500), c.file ? c.file : "");
        Service(Close, 0, 0);
    }
}

// LOAD "game" then SAVE "game" rewrites game.bas instead of adding GAME.BAS beside it; with two
// candidates, or none, the name is created as given; a link is never written through.
TEST_F(HostFilesCase, CreateRewritesTheOneFileDifferingOnlyInCase) {
    std::memset(MachineMemory + 0x8000, 'w', 256);
    EXPECT_EQ(Open(Create, 0, "GAME    BAS"), 0);
    Service(WriteBlock, 0, 0x8000);
    EXPECT_EQ(Open(Create, 1, "two     txt"), 0);
    EXPECT_EQ(Open(Create, 2, "R[KA    TXT"), 0);
    EXPECT_EQ(Open(Create, 3, "NEW     BAS"), 0);
    uint32_t count = HostFileWarningCount();
    EXPECT_EQ(Open(Create, 4, "LINK    BAS"), 1);
    EXPECT_EQ(Open(Create, 4, "DANG    BAS"), 1);
    EXPECT_EQ(Open(Create, 4, "dang    bas"), 1);
    EXPECT_EQ(HostFileWarningCount(), count + 3);
    EXPECT_STREQ(LatestWarning().path, "Files/dang.bas");
    EXPECT_STREQ(LatestWarning().reason, "refused: a symbolic link");
    CloseAllFileSlots();
    EXPECT_EQ(folder.ReadFile("Files/game.bas"), std::string(256, 'w'));
    EXPECT_EQ(folder.ReadFile("Files/Two.txt"), "Two.txt");
    EXPECT_EQ(folder.ReadFile("Files/TWO.TXT"), "TWO.TXT");
    EXPECT_EQ(folder.ReadFile("Files/r\xC3\xA4ka.txt"), "");
    EXPECT_FALSE(fs::exists("outside"));
    EXPECT_EQ(Listing("Files"), "Exact.Txt|NEW.BAS|TWO.TXT|Two.txt|dang.bas|exact.txt|game.bas|"
                                "kal.txt|link.bas|r\xC3\xA4ka.txt|two.txt|\xC3\x85\xC3\x96.DAT|"
                                "\xC3\xA9lan.txt|\xC3\xB8.txt|\xC3\xBC"
                                "ber.txt|");
}

// The folder field is a prefix: up to its last '/' a folder, the rest starts the file name.
TEST_F(HostFilesCase, FolderFieldIsAPrefix) {
    SetFilesFolder("Files/pre");
    EXPECT_EQ(Open(Create, 0, "X       BAS"), 0);
    SetFilesFolder("pre");
    EXPECT_EQ(Open(Create, 1, "Y       BAS"), 0);
    SetFilesFolder("Files/ga");
    EXPECT_EQ(Open(OpenRead, 2, "ME      BAS"), 0);
    CloseAllFileSlots();
    EXPECT_TRUE(fs::is_regular_file("Files/preX.BAS"));
    EXPECT_TRUE(fs::is_regular_file("preY.BAS"));
}

// Writes straight through RLIMIT_FSIZE: write() then fails with EFBIG, as on a file-size-limited
// or full disk, and each failed block becomes a warning naming the file and the reason.
TEST_F(HostFilesCase, FailedWritesAndCreatesBecomeWarnings) {
    std::memset(MachineMemory + 0x8000, 'd', 256);
    ASSERT_EQ(Open(Create, 5, "BIG     DAT"), 0);
    uint32_t count = HostFileWarningCount();
    {
        FileSizeLimit limit(600); // two blocks and part of a third
        for (int i = 0; i < 4; ++i)
            Service(WriteBlock, 5, 0x8000);
    }
    EXPECT_EQ(ReadInPort(HostFilePort), 0); // the guest is not told
    EXPECT_EQ(HostFileWarningCount(), count + 2);
    HostFileWarning w = LatestWarning();
    EXPECT_EQ(w.number, count + 2);
    EXPECT_STREQ(w.path, "Files/BIG.DAT");
    EXPECT_STREQ(w.reason, std::strerror(EFBIG));
    Service(Close, 5, 0);
    EXPECT_EQ(fs::file_size("Files/BIG.DAT"), 600u);

    // A create that fails is a warning too; an open for reading that fails is not.
    SetFilesFolder("Missing/");
    EXPECT_EQ(Open(Create, 5, "A       DAT"), 1);
    EXPECT_EQ(Open(OpenRead, 5, "A       DAT"), 1);
    EXPECT_EQ(HostFileWarningCount(), count + 3);
    EXPECT_STREQ(LatestWarning().path, "Missing/A.DAT");
    EXPECT_STREQ(LatestWarning().reason, std::strerror(ENOENT));
    SetFilesFolder("Files/");
    EXPECT_EQ(Open(Create, 5, "A/B     DAT"), 1);
    EXPECT_STREQ(LatestWarning().reason, "refused: not an allowed file name");
    EXPECT_EQ(Open(OpenRead, 6, "GAME    BAS"), 0);
    EXPECT_EQ(Open(Create, 7, "game    BAS"), 1);
    EXPECT_STREQ(LatestWarning().path, "Files/game.bas");
    EXPECT_STREQ(LatestWarning().reason, "refused: already open in another file slot");
    EXPECT_EQ(HostFileWarningCount(), count + 5);
}

// A real full disk: a 64 KB tmpfs in a private mount namespace (of a child process, so nothing
// leaks into the system's mounts). Skipped where no namespace may be made.
TEST(HostFilesDiskFull, FullFilesystemGivesNoSpaceWarnings) {
    ScratchFolder folder;
    fs::create_directory("disk");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        uid_t uid = getuid();
        gid_t gid = getgid();
        bool ok = unshare(CLONE_NEWNS) == 0;
        if (!ok && unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            auto put = [](const char* file, const std::string& text) {
                int fd = open(file, O_WRONLY);
                bool done = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
                if (fd >= 0) close(fd);
                return done;
            };
            ok = put("/proc/self/setgroups", "deny") &&
                 put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                 put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        }
        ok = ok && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
             mount("tmpfs", "disk", "tmpfs", 0, "size=64k") == 0;
        if (!ok) _exit(77);
        ResetMachineForTest();
        SetFilesFolder("disk/");
        uint32_t count = HostFileWarningCount();
        std::string result = "open failed";
        if (Open(Create, 0, "FULL    DAT") == 0) {
            int blocks = 0;
            while (HostFileWarningCount() == count && blocks < 1000) {
                Service(WriteBlock, 0, 0x4000);
                ++blocks;
            }
            Service(WriteBlock, 0, 0x4000);
            HostFileWarning w{};
            ReadLatestHostFileWarning(w);
            struct stat st;
            stat("disk/FULL.DAT", &st);
            result = std::to_string(HostFileWarningCount() - count) + "|" + w.path + "|" +
                     w.reason + "|" + std::to_string(int(ReadInPort(HostFilePort))) + "|" +
                     std::to_string(st.st_size < blocks * 256);
        }
        ssize_t written = write(report[1], result.data(), result.size());
        _exit(written == ssize_t(result.size()) ? 0 : 1);
    }
    close(report[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, size_t(n));
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // Two warnings (the first failing block and the one after), status still 0, file cut short.
    EXPECT_EQ(result, std::string("2|disk/FULL.DAT|") + std::strerror(ENOSPC) + "|0|1");
}

// The window thread reads warnings while the ProcessorThread records them: it never sees a path
// with another warning's reason, nor a number beyond the count it read after.
TEST(HostFileWarningsThread, LatestWarningIsNeverSeenHalfWritten) {
    ScratchFolder folder;
    ResetMachineForTest();
    folder.WriteFile("Lunabrik.cfg", "own");
    const uint32_t before = HostFileWarningCount();
    std::atomic<bool> stop{false};
    std::thread guest([&] {
        for (int i = 0; !stop.load(); ++i) {
            SetFilesFolder(i % 2 ? "Missing/" : "");
            Open(Create, 0, "LUNABRIKCFG");
        }
    });
    int torn = 0, seen = 0;
    while (HostFileWarningCount() - before < 20000) {
        HostFileWarning w{};
        if (!ReadLatestHostFileWarning(w) || w.number <= before) continue; // an earlier test's
        ++seen;
        std::string path = w.path, reason = w.reason;
        bool missing = path == "Missing/LUNABRIK.CFG" && reason == std::strerror(ENOENT);
        bool own = path == "LUNABRIK.CFG" && reason.find("own files") != std::string::npos;
        if (!missing && !own) ++torn;
        if (w.number > HostFileWarningCount()) ++torn;
    }
    stop = true;
    guest.join();
    EXPECT_GT(seen, 0);
    EXPECT_EQ(torn, 0);
}

} // namespace
