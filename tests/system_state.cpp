// Saved machines: a run split by a save and a load goes on exactly as the whole run, bad files
// change nothing, host file slots come back or are named, old files keep loading, and rewind.
#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "host/settings.h"
#include "host_file_calls.h"
#include "machine/control.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "system/hold.h"
#include "system/pacer.h"
#include "system/rewind.h"
#include "system/state.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// A busy machine: the main loop fills the screen with characters from LD A,R; the keyboard
// interrupt (mode 2, vector 0x0134) keeps the last key at 9000h and counts keys at 9001h; the NMI
// counts ticks at 9002h.
Bytes BusyImage() {
    Bytes image(BasicRomSize, 0xFF);
    auto at = [&](uint16_t address, std::initializer_list<uint8_t> code) {
        for (uint8_t b : code)
            image[address++] = b;
    };
    at(0x0000, {
                   0x31, 0x00, 0xF0, // LD SP,F000h
                   0x3E, 0x01,       // LD A,1
                   0xED, 0x47,       // LD I,A
                   0xED, 0x5E,       // IM 2
                   0xFB,             // EI
                   0x21, 0x00, 0x7C, // 000A: LD HL,7C00h
                   0xED, 0x5F,       // 000D: LD A,R
                   0xE6, 0x3F,       // AND 3Fh
                   0xC6, 0x20,       // ADD A,20h
                   0x77,             // LD (HL),A
                   0x23,             // INC HL
                   0x7C,             // LD A,H
                   0xFE, 0x80,       // CP 80h
                   0x20, 0xF3,       // JR NZ,000Dh
                   0x18, 0xEE,       // JR 000Ah
               });
    at(0x0066, {
                   0xF5,             // PUSH AF
                   0x3A, 0x02, 0x90, // LD A,(9002h)
                   0x3C,             // INC A
                   0x32, 0x02, 0x90, // LD (9002h),A
                   0xF1,             // POP AF
                   0xED, 0x45,       // RETN
               });
    at(0x0134, {0x40, 0x01}); // keyboard vector: I = 1, bus byte 26
    at(0x0140, {
                   0xF5,             // PUSH AF
                   0xDB, 0x38,       // IN A,(38h)
                   0x32, 0x00, 0x90, // LD (9000h),A
                   0x3A, 0x01, 0x90, // LD A,(9001h)
                   0x3C,             // INC A
                   0x32, 0x01, 0x90, // LD (9001h),A
                   0xF1,             // POP AF
                   0xFB,             // EI
                   0xED, 0x4D,       // RETI
               });
    return image;
}

constexpr long Instructions = 20000; // per tick

// A fresh busy machine in the scratch folder: the image as basic.rom (so states record its hash),
// in memory, and the processor reset with the given seed.
void StartBusyMachine(const ScratchFolder& folder, uint32_t seed, int32_t pace) {
    const Bytes image = BusyImage();
    folder.WriteFile("basic.rom", std::string(image.begin(), image.end()));
    folder.WriteFile("dev_dos.rom", "");
    ResetMachineForTest();
    ASSERT_TRUE(LoadAddressSpace());
    SetWaitstates(pace);
    SetFilesFolder("Files/");
    fs::create_directory("Files");
    SystemPause(false);
    PacerReset();
    SystemSeedRefresh(seed);
    ProcessorReset();
    RewindClear();
}

void RunTicks(long n) {
    for (long i = 0; i < n; ++i)
        ASSERT_TRUE(SystemRunTick(Instructions));
}

// What the machine is, seen from outside.
struct Seen {
    std::string memory;
    CpuRegisters cpu;
    std::string screen;
    SystemCounts counts;
    bool operator==(const Seen& o) const {
        return memory == o.memory && std::memcmp(&cpu, &o.cpu, sizeof cpu) == 0 &&
               screen == o.screen && counts.instructions == o.counts.instructions &&
               counts.tstates == o.counts.tstates && counts.ticks == o.counts.ticks;
    }
};

Seen Look() {
    Seen s{std::string(reinterpret_cast<const char*>(MachineMemory), MemorySize), CpuState,
           SystemScreenText(), SystemReadCounts()};
    return s;
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The file's checksum made right again after a test changed its bytes.
void Reseal(Bytes& b) {
    const uint32_t crc = StateCrc32(b.data(), b.size() - 4);
    for (int i = 0; i < 4; ++i)
        b[b.size() - 4 + size_t(i)] = uint8_t(crc >> 8 * i);
}

// Offset of a block's tag in a state file.
size_t BlockAt(const Bytes& b, const char* tag) {
    for (size_t at = 12; at + 8 <= b.size();) {
        if (std::memcmp(&b[at], tag, 4) == 0) return at;
        at += 8 + (b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | size_t(b[at + 7]) << 24);
    }
    return 0;
}

// The text typed while the machine runs: long enough to be half typed at any save.
std::string LongText() {
    std::string codes;
    for (int i = 0; i < 300; ++i)
        codes += char('A' + i % 26);
    return codes;
}

// Save after N ticks, run M, load, run M again: both ends are the same machine, for several seeds,
// moments and paces, with keys on their way through the pacer at the save.
TEST(StateRoundTrip, ASplitRunGoesOnAsTheWholeRun) {
    struct Case {
        uint32_t seed;
        long n, m;
        int32_t pace;
    } cases[] = {{1, 3, 7, 0}, {77, 11, 5, 0}, {4242, 6, 9, RealSpeedWaitstates}, {9, 1, 12, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + " after " + std::to_string(c.n));
        ScratchFolder folder;
        StartBusyMachine(folder, c.seed, c.pace);
        PacerType(LongText());
        RunTicks(c.n);
        const Seen saved = Look();
        const StateResult s = SystemSaveState("split.lbs");
        ASSERT_TRUE(s.ok) << s.message;
        EXPECT_TRUE(PacerBusy()) << "the save should catch keys on their way";
        RunTicks(c.m);
        const Seen whole = Look();
        ASSERT_FALSE(whole == saved); // the machine moved on, so equality below means something
        // A different run in between, to be undone by the load.
        SystemSeedRefresh(c.seed + 1);
        PacerReset();
        RunTicks(2);
        const StateResult l = SystemLoadState("split.lbs", false);
        ASSERT_TRUE(l.ok) << l.message;
        EXPECT_TRUE(Look() == saved);
        RunTicks(c.m);
        EXPECT_TRUE(Look() == whole);
        SetWaitstates(0);
    }
}

// Every bad file is refused with a message and leaves the machine as it was.
TEST(StateRoundTrip, BadFilesChangeNothing) {
    ScratchFolder folder;
    StartBusyMachine(folder, 5, 0);
    host_file_calls::Open(host_file_calls::Create, 2, "DATA    TXT");
    RunTicks(2);
    ASSERT_TRUE(SystemSaveState("good.lbs").ok);
    const Bytes good = ReadBytes("good.lbs");
    RunTicks(3);
    const Seen before = Look();

    auto changed = [&](auto edit) {
        Bytes b = good;
        edit(b);
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        const char* said = ""; // in the message
    } cases[] = {
        {"empty", {}},
        {"foreign", changed([](Bytes& b) { std::memcpy(b.data(), "GIF89a", 6); })},
        {"cut short", Bytes(good.begin(), good.begin() + long(good.size() / 2))},
        {"cut in the header", Bytes(good.begin(), good.begin() + 10)},
        {"a byte changed", changed([](Bytes& b) { b[b.size() / 3] ^= 0x10; })},
        {"a newer version", changed([](Bytes& b) {
             b[8] = 0x7F;
             Reseal(b);
         }),
         "newer"},
        {"cut after a damaged header", changed([](Bytes& b) {
             b.resize(12);
             b[8] = 0xC7, b[9] = 0x84;
         }),
         "cut short"},
        {"an impossible block length", changed([](Bytes& b) {
             b[BlockAt(b, "MEM ") + 7] = 0x7F;
             Reseal(b);
         })},
        {"memory of the wrong size", changed([](Bytes& b) {
             b[BlockAt(b, "MEM ") + 4] = 0xFE;
             Reseal(b);
         })},
        {"a slot name with a folder", changed([](Bytes& b) {
             const size_t at = BlockAt(b, "FILE");
             const char* old = "DATA.TXT";
             auto name = std::search(b.begin() + long(at), b.end(), old, old + 8);
             if (at && name != b.end()) std::memcpy(&*name, "../X.TXT", 8);
             Reseal(b);
         })},
        {"enormous", Bytes(size_t(6) << 20, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll("bad.lbs", c.bytes);
        const StateResult r = SystemLoadState("bad.lbs", true);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("bad.lbs"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.said), std::string::npos) << r.message;
        EXPECT_TRUE(Look() == before);
    }
    EXPECT_FALSE(SystemLoadState("missing.lbs", true).ok);
    EXPECT_FALSE(SystemLoadState(".", true).ok);
    EXPECT_FALSE(fs::exists("X.TXT"));
    CloseAllFileSlots();
}

// A state holds how the ROM areas differ from the images loaded, never the images: no stretch of
// them is in the file, a program's writes into them come back exactly, and a state loaded over
// other images (forced) gets those images with its own writes on top.
TEST(StateRoundTrip, RomAreasAreKeptAsDifferences) {
    ScratchFolder folder;
    std::mt19937 random(31);
    auto image = [&](size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = char(random());
        return bytes;
    };
    const std::string basic = image(BasicRomSize), dev_dos = image(DevDosRomSize);
    folder.WriteFile("basic.rom", basic);
    folder.WriteFile("dev_dos.rom", dev_dos);
    ResetMachineForTest();
    ASSERT_TRUE(LoadAddressSpace());
    const struct {
        uint16_t address;
        std::vector<uint8_t> bytes;
    } writes[] = {{0x0000, {0x11}}, {0x0100, {1, 2, 3}}, {0x0108, {4}},     {0x3FFF, {5}},
                  {0x6000, {6, 7}}, {0x6FFE, {8, 9}},    {0x9000, {10, 11}}};
    for (const auto& w : writes)
        std::copy(w.bytes.begin(), w.bytes.end(), MachineMemory + w.address);
    const std::string saved(reinterpret_cast<const char*>(MachineMemory), MemorySize);
    ASSERT_TRUE(SystemSaveState("s.lbs").ok);
    const std::string file = folder.ReadFile("s.lbs");
    for (const std::string* rom : {&basic, &dev_dos})
        for (size_t at = 0; at + 16 <= rom->size(); at += 64)
            ASSERT_EQ(file.find(rom->substr(at, 16)), std::string::npos) << "image bytes at " << at;

    ResetMachineForTest();
    ASSERT_TRUE(LoadAddressSpace());
    ASSERT_TRUE(SystemLoadState("s.lbs", false).ok);
    EXPECT_TRUE(std::memcmp(MachineMemory, saved.data(), MemorySize) == 0);

    const std::string other = image(BasicRomSize);
    folder.WriteFile("basic.rom", other);
    ResetMachineForTest();
    ASSERT_TRUE(LoadAddressSpace());
    EXPECT_TRUE(SystemLoadState("s.lbs", false).other_roms);
    ASSERT_TRUE(SystemLoadState("s.lbs", true).ok);
    std::string expected = saved;
    expected.replace(0, BasicRomSize, other);
    for (const auto& w : writes)
        std::copy(w.bytes.begin(), w.bytes.end(), expected.begin() + w.address);
    EXPECT_TRUE(std::memcmp(MachineMemory, expected.data(), MemorySize) == 0);
}

// Damage that keeps the checksum right (bytes changed, then resealed) is either refused, with the
// machine unchanged, or loads a machine; it never reads past the file or crashes.
TEST(StateRoundTrip, ResealedDamageIsCaughtOrHarmless) {
    ScratchFolder folder;
    StartBusyMachine(folder, 21, 0);
    PacerType(LongText());
    host_file_calls::Open(host_file_calls::Create, 5, "LOG     TXT");
    RunTicks(2);
    ASSERT_TRUE(SystemSaveState("good.lbs").ok);
    const Bytes good = ReadBytes("good.lbs");
    std::mt19937 random(21);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        Bytes b = good;
        // Damage where the structure is: outside the memory and picture bulk.
        const size_t mem = BlockAt(b, "MEM ");
        for (int n = 1 + int(random() % 4); n > 0; --n) {
            size_t at = 12 + random() % (b.size() - 16);
            if (at >= mem + 8 && at < mem + 8 + MemorySize) at = mem - 1 - random() % (mem - 12);
            b[at] = uint8_t(random());
        }
        if (round % 3 == 0) b.resize(b.size() - random() % 64);
        Reseal(b);
        WriteAll("damaged.lbs", b);
        const Seen before = Look();
        const StateResult r = SystemLoadState("damaged.lbs", true);
        if (!r.ok) {
            ++refused;
            EXPECT_TRUE(Look() == before) << r.message;
        }
    }
    EXPECT_GT(refused, 0);
    CloseAllFileSlots();
    PacerReset();
}

// A save that cannot be written (a full disk, here a file size limit; an unwritable folder) says
// so and leaves the earlier file whole.
TEST(StateRoundTrip, AFailedSaveKeepsTheEarlierFile) {
    ScratchFolder folder;
    StartBusyMachine(folder, 1, 0);
    fs::create_directory("locked");
    ASSERT_TRUE(SystemSaveState("keep.lbs").ok);
    ASSERT_TRUE(SystemSaveState("locked/keep.lbs").ok);
    const Bytes earlier = ReadBytes("keep.lbs"), earlier_locked = ReadBytes("locked/keep.lbs");
    RunTicks(1);
    StateResult full;
    {
        FileSizeLimit limit(1000);
        full = SystemSaveState("keep.lbs");
    }
    EXPECT_FALSE(full.ok);
    EXPECT_NE(full.message.find("keep.lbs"), std::string::npos) << full.message;
    EXPECT_EQ(ReadBytes("keep.lbs"), earlier);

    fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
    const StateResult locked = SystemSaveState("locked/keep.lbs");
    fs::permissions("locked", fs::perms::owner_all);
    if (geteuid() != 0) { // root writes anywhere
        EXPECT_FALSE(locked.ok);
        EXPECT_NE(locked.message.find("locked/keep.lbs"), std::string::npos) << locked.message;
        EXPECT_EQ(ReadBytes("locked/keep.lbs"), earlier_locked);
    }
    fs::create_directory("folder.lbs");
    EXPECT_FALSE(SystemSaveState("folder.lbs").ok);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator("."))
        if (entry.path().extension() == ".tmp") left.push_back(entry.path().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

// Slots open for reading and for writing come back at their positions; a file gone or shorter
// closes its slot and is named; loading writes nothing to any host file.
TEST(StateRoundTrip, HostFileSlotsComeBackOrAreNamed) {
    using namespace host_file_calls;
    enum class Change { None, ReadFileGone, ReadFileShorter, WrittenFileGone };
    for (Change change :
         {Change::None, Change::ReadFileGone, Change::ReadFileShorter, Change::WrittenFileGone}) {
        SCOPED_TRACE(int(change));
        ScratchFolder folder;
        StartBusyMachine(folder, 3, 0);
        std::string in(512, 'a');
        std::fill(in.begin() + 256, in.end(), 'b');
        folder.WriteFile("Files/IN.TXT", in);
        ASSERT_EQ(Open(OpenRead, 1, "IN      TXT"), 0);
        Service(ReadBlock, 1, 0x9100);
        ASSERT_EQ(Open(Create, 4, "OUT     TXT"), 0);
        std::memset(MachineMemory + 0x9200, 'x', BlockSize);
        Service(WriteBlock, 4, 0x9200);
        ASSERT_TRUE(SystemSaveState("files.lbs").ok);
        CloseAllFileSlots();

        if (change == Change::ReadFileGone) fs::remove("Files/IN.TXT");
        if (change == Change::ReadFileShorter) folder.WriteFile("Files/IN.TXT", "short");
        if (change == Change::WrittenFileGone) fs::remove("Files/OUT.TXT");
        const std::string out_before = folder.ReadFile("Files/OUT.TXT");
        const StateResult r = SystemLoadState("files.lbs", false);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(folder.ReadFile("Files/OUT.TXT"), out_before);
        EXPECT_FALSE(change == Change::WrittenFileGone && fs::exists("Files/OUT.TXT"));

        const bool read_back = change == Change::None || change == Change::WrittenFileGone;
        const bool write_back = change != Change::WrittenFileGone;
        EXPECT_EQ(r.closed_slots.size(), size_t(!read_back) + size_t(!write_back));
        for (const std::string& closed : r.closed_slots)
            EXPECT_NE(r.message.find(closed), std::string::npos);
        if (!read_back) {
            EXPECT_NE(r.message.find("IN.TXT"), std::string::npos) << r.message;
        }
        Service(ReadBlock, 1, 0x9300);
        EXPECT_EQ(Memory(0x9300, 4), read_back ? "bbbb" : "\xFF\xFF\xFF\xFF");
        std::memset(MachineMemory + 0x9200, 'y', BlockSize);
        Service(WriteBlock, 4, 0x9200);
        CloseAllFileSlots();
        if (write_back) {
            EXPECT_EQ(folder.ReadFile("Files/OUT.TXT"),
                      std::string(256, 'x') + std::string(256, 'y'));
        }
    }
}

// A state saved with other ROM images is refused unless forced; the machine stays as it was.
TEST(StateRoundTrip, OtherRomImagesAskFirst) {
    ScratchFolder folder;
    StartBusyMachine(folder, 8, 0);
    RunTicks(2);
    ASSERT_TRUE(SystemSaveState("roms.lbs").ok);
    RunTicks(2);
    const Seen before = Look();
    folder.WriteFile("dev_dos.rom", "another image");
    const StateResult refused = SystemLoadState("roms.lbs", false);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.other_roms);
    EXPECT_TRUE(Look() == before);
    const StateResult forced = SystemLoadState("roms.lbs", true);
    EXPECT_TRUE(forced.ok) << forced.message;
    EXPECT_FALSE(Look() == before);
}

// A state file carries its time and the screen for a menu.
TEST(StateRoundTrip, SummaryGivesTimeAndPicture) {
    ScratchFolder folder;
    StartBusyMachine(folder, 2, 0);
    RunTicks(1);
    const int64_t now = int64_t(std::time(nullptr));
    ASSERT_TRUE(SystemSaveState("menu.lbs").ok);
    StateSummary summary;
    std::string error;
    ASSERT_TRUE(ReadStateSummary("menu.lbs", summary, error)) << error;
    EXPECT_LE(std::llabs(summary.saved_at - now), 5);
    ASSERT_TRUE(summary.has_picture);
    uint8_t frame[FrameLines][FrameLineBytes];
    SystemPicture(frame);
    for (int y = 0; y < FrameLines; ++y)
        ASSERT_EQ(std::memcmp(frame[y], summary.picture[y], FramePixelBytes), 0) << y;
    folder.WriteFile("junk.lbs", "junk");
    EXPECT_FALSE(ReadStateSummary("junk.lbs", summary, error));
    EXPECT_FALSE(error.empty());
}

// States written by earlier versions keep loading. Each file in tests/data/states has beside it
// the screen text it was saved with; the busy machine then runs on, its NMI counting ticks.
// LUNABRIK_WRITE_STATE_DATA=FOLDER writes this version's files there.
TEST(StateCompatibility, EarlierFilesStillLoad) {
    const fs::path data = fs::path(LUNABRIK_TEST_DATA) / "states";
    if (const char* out = std::getenv("LUNABRIK_WRITE_STATE_DATA")) {
        ScratchFolder folder;
        StartBusyMachine(folder, 1234, RealSpeedWaitstates);
        PacerType(LongText());
        host_file_calls::Open(host_file_calls::Create, 0, "LOG     TXT");
        RunTicks(17);
        // A program's writes into both ROM areas, kept as differences.
        MachineMemory[0x2000] = 0x5A;
        MachineMemory[0x3FFF] = 0xA5;
        MachineMemory[0x6100] = 0x42;
        const std::string file = std::string(out) + "/busy-2r.lbs";
        ASSERT_TRUE(SystemSaveState(file).ok);
        std::ofstream(std::string(out) + "/busy-2r.screen") << SystemScreenText();
        CloseAllFileSlots();
        SetWaitstates(0);
    }
    int files = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != StateFileExtension) continue;
        SCOPED_TRACE(entry.path().string());
        ++files;
        ScratchFolder folder;
        StartBusyMachine(folder, 1, 0);
        const StateResult r = SystemLoadState(entry.path().string(), false);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.closed_slots.size(), 1u); // its LOG.TXT is not in this folder
        EXPECT_EQ(SystemScreenText(), ReadAll(fs::path(entry.path()).replace_extension(".screen")));
        const uint8_t ticks = MachineMemory[0x9002], keys = MachineMemory[0x9001];
        EXPECT_GT(ticks, 0);
        EXPECT_TRUE(PacerBusy());
        RunTicks(5);
        EXPECT_EQ(MachineMemory[0x9002], uint8_t(ticks + 5));
        EXPECT_NE(MachineMemory[0x9001], keys) << "the typing goes on";
        SetWaitstates(0);
    }
    EXPECT_GE(files, 1);
}

// A file of this format loaded and saved again is the same file, byte for byte, its save time
// apart: nothing of the machine is lost or changed on the way through.
TEST(StateCompatibility, TodaysFilesSaveAgainUnchanged) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(LUNABRIK_TEST_DATA) / "states")) {
        if (entry.path().extension() != StateFileExtension) continue;
        Bytes original = ReadBytes(entry.path().string());
        if (original.size() < 28 || original[8] != 2) continue; // earlier formats save as today's
        SCOPED_TRACE(entry.path().string());
        ++files;
        ScratchFolder folder;
        StartBusyMachine(folder, 1, RealSpeedWaitstates); // the settings they were saved with
        folder.WriteFile("Files/LOG.TXT", "");            // so their host file slot reopens
        const StateResult r = SystemLoadState(entry.path().string(), false);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_TRUE(r.closed_slots.empty()) << r.message;
        ASSERT_TRUE(SystemSaveState("again.lbs").ok);
        CloseAllFileSlots();
        SetWaitstates(0);
        Bytes again = ReadBytes("again.lbs");
        ASSERT_EQ(again.size(), original.size());
        for (Bytes* b : {&original, &again}) {
            std::memset(b->data() + 20, 0, 8); // INFO: when it was saved
            b->resize(b->size() - 4);          // and the checksum over it
        }
        EXPECT_TRUE(again == original);
    }
    EXPECT_GE(files, 1);
}

// Rewind keeps at most its budget for a minute of busy time, and each step back gives the machine
// of a second before: its screen then, and from there it runs on.
TEST(StateRewind, StaysInItsBudgetAndStepsBack) {
    ScratchFolder folder;
    StartBusyMachine(folder, 6, 0);
    std::mt19937 random(6);
    std::map<uint64_t, std::string> screens; // by the machine's ticks
    auto run = [&](uint64_t ticks) {
        for (uint64_t t = 0; t < ticks; ++t) {
            RunTicks(1);
            RewindPoll();
            screens[SystemReadCounts().ticks] = SystemScreenText();
        }
    };
    for (int second = 0; second < 90; ++second) {
        for (uint32_t a = 0x8000; a < 0xE000; ++a) // memory that does not compress, below the stack
            MachineMemory[a] = uint8_t(random());
        run(RewindTicksApart);
        EXPECT_LE(RewindBytes(), RewindBudgetBytes);
    }
    EXPECT_GE(RewindSpanTicks(), RewindStates * RewindTicksApart);
    SystemPause(true);
    uint64_t now = SystemReadCounts().ticks;
    for (int back = 1; back <= 3; ++back) {
        ASSERT_TRUE(RewindStepBack());
        const uint64_t then = SystemReadCounts().ticks;
        EXPECT_GT(then, now - 2 * RewindTicksApart);
        EXPECT_LT(then, now);
        EXPECT_EQ(SystemScreenText(), screens[then]);
        now = then;
    }
    SystemPause(false);
    run(RewindTicksApart);
    ASSERT_TRUE(RewindStepBack());
    EXPECT_EQ(SystemReadCounts().ticks, now);
    EXPECT_EQ(SystemScreenText(), screens[now]);
}

} // namespace

namespace {

// True once the running machine has executed 100,000 instructions past `from` (a generous limit).
bool Moved(uint64_t from) {
    for (int i = 0; i < 20000 && SystemReadCounts().instructions < from + 100000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return SystemReadCounts().instructions >= from + 100000;
}

// With the machine's threads running (its own loop, or the single steps of the stall watch), a
// save or a load stops the processor at an instruction boundary and lets it go on; a load while
// the user has paused it gives exactly the saved machine, still paused.
TEST(StateThreads, SaveAndLoadWhileTheMachineRuns) {
    for (bool watch_stalls : {false, true}) { // the processor's own loop, or single steps
        SCOPED_TRACE(watch_stalls ? "single steps" : "the loop");
        ScratchFolder folder;
        StartBusyMachine(folder, 12, 0);
        SystemWatchStalls(watch_stalls);
        SystemStart(nullptr, nullptr);
        ASSERT_TRUE(Moved(0));
        ASSERT_TRUE(SystemSaveState("running.lbs").ok);
        EXPECT_FALSE(SystemPaused());
        ASSERT_TRUE(Moved(SystemReadCounts().instructions)) << "the machine runs on after a save";
        ASSERT_TRUE(SystemLoadState("running.lbs", false).ok) << "loaded while running";
        ASSERT_TRUE(Moved(SystemReadCounts().instructions)) << "and it runs on after a load";
        SystemPause(true);
        for (int i = 0; i < 20000 && !ProcessorPaused(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(ProcessorPaused());
        ASSERT_TRUE(SystemLoadState("running.lbs", false).ok);
        const Seen loaded = Look();
        ASSERT_TRUE(SystemSaveState("again.lbs").ok);
        SystemStop();
        SystemWatchStalls(false);
        // Saved again while paused, the machine is the one first saved (its save time apart).
        Bytes first = ReadBytes("running.lbs"), again = ReadBytes("again.lbs");
        ASSERT_EQ(first.size(), again.size());
        std::memset(first.data() + 20, 0, 8);
        std::memset(again.data() + 20, 0, 8);
        first.resize(first.size() - 4);
        again.resize(again.size() - 4);
        EXPECT_TRUE(first == again);
        EXPECT_TRUE(Look() == loaded) << "nothing ran while paused";
        SystemPause(false);
    }
}

// A hold stops the running machine and lets it go on; a pause taken while it is held (the user's,
// or a debugger stop) outlives it, and a hold inside a user's pause leaves it paused.
TEST(StateThreads, AHoldStopsTheMachineAndKeepsAPauseTakenMeanwhile) {
    struct Case {
        const char* what;
        bool paused_before, paused_during, runs_after;
    } cases[] = {{"plain", false, false, true},
                 {"paused meanwhile", false, true, false},
                 {"paused before", true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        StartBusyMachine(folder, 4, 0);
        SystemStart(nullptr, nullptr);
        ASSERT_TRUE(Moved(0));
        if (c.paused_before) SystemPause(true);
        {
            MachineHold hold;
            ASSERT_TRUE(hold.held());
            ASSERT_TRUE(ProcessorPaused()); // stopped at an instruction boundary
            if (c.paused_during) SystemPause(true);
        }
        EXPECT_EQ(SystemPaused(), !c.runs_after);
        if (c.runs_after) {
            EXPECT_TRUE(Moved(SystemReadCounts().instructions));
        }
        SystemStop();
        SystemPause(false);
    }
}

} // namespace
