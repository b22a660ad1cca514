// lunabrik-headless run as a subprocess in a scratch folder, with tiny ROM images written here.
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A 16 KB image with code pieces placed at their addresses (the rest 0xFF, as in an erased ROM).
struct Rom {
    Bytes image = Bytes(16384, 0xFF);
    Rom& At(uint16_t address, Bytes code) {
        for (uint8_t b : code)
            image[address++] = b;
        return *this;
    }
    std::string Text() const { return std::string(image.begin(), image.end()); }
};

// Writes "HELLO" at the top left, a mosaic switch and five cells into row 1, then halts for ever
// (every tick's NMI returns to the HALT).
Rom HelloRom() {
    return Rom()
        .At(0x0000,
            {
                0x31, 0x00, 0xF0, // LD SP,F000h
                0x21, 0x40, 0x00, // LD HL,0040h
                0x11, 0x00, 0x7C, // LD DE,7C00h
                0x01, 0x05, 0x00, // LD BC,5
                0xED, 0xB0,       // LDIR
                0x21, 0x48, 0x00, // LD HL,0048h
                0x11, 0x80, 0x7C, // LD DE,7C80h (row 1)
                0x01, 0x06, 0x00, // LD BC,6
                0xED, 0xB0,       // LDIR
                0x76,             // 0019: HALT
                0x18, 0xFD,       // JR 0019h
            })
        .At(0x0040, {'H', 'E', 'L', 'L', 'O'})
        .At(0x0048, {0x17, 0x7F, 0x35, 'A', 0x21, 0x7E}) // mosaic on, blocks, capital A, blocks
        .At(0x0066, {0xED, 0x45});                       // NMI: RETN
}

// IM 2 with I = 10h: the keyboard vector at 1034h leads to a handler that copies port 56 (bit 7
// cleared) to the screen at HL, then HL+1. Every tick's NMI shows the key-down bit of port 56 in
// the last cell of row 0: '*' while a key is held, '-' when none is.
Rom EchoRom() {
    return Rom()
        .At(0x0000,
            {
                0x31, 0x00, 0xF0, // LD SP,F000h
                0x3E, 0x10,       // LD A,10h
                0xED, 0x47,       // LD I,A
                0xED, 0x5E,       // IM 2
                0x21, 0x00, 0x7C, // LD HL,7C00h
                0xFB,             // EI
                0x76,             // 000D: HALT
                0x18, 0xFD,       // JR 000Dh
            })
        .At(0x0066,
            {
                0xF5,             // PUSH AF
                0xDB, 0x38,       // IN A,(38h)
                0x07,             // RLCA
                0x3E, '-',        // LD A,'-'
                0x30, 0x02,       // JR NC,+2
                0x3E, '*',        // LD A,'*'
                0x32, 0x27, 0x7C, // LD (7C27h),A
                0xF1,             // POP AF
                0xED, 0x45,       // RETN
            })
        .At(0x0100,
            {
                0xF5,       // PUSH AF
                0xDB, 0x38, // IN A,(38h)
                0xE6, 0x7F, // AND 7Fh
                0x77,       // LD (HL),A
                0x23,       // INC HL
                0xF1,       // POP AF
                0xFB,       // EI
                0xED, 0x4D, // RETI
            })
        .At(0x1034, {0x00, 0x01}); // DW 0100h
}

// Row 0 of the echo ROM's screen: the typed cells, blanks, and the key-down marker in cell 39.
std::string EchoRow(const std::string& typed, int cells) {
    return typed + std::string(size_t(39 - cells), ' ') + "-";
}

// A scratch folder holding the ROM images (basic.rom from the test, an empty dev_dos.rom) and the
// built font.bin; the runner is started there.
class Headless : public ::testing::Test {
  protected:
    ScratchFolder folder;

    void Install(const Rom& rom) {
        folder.WriteFile("basic.rom", rom.Text());
        folder.WriteFile("dev_dos.rom", "");
        folder.WriteFile("font.bin", ReadAll(LUNABRIK_FONT));
    }

    Outcome Start(const std::vector<std::string>& args) {
        return RunInFolder(LUNABRIK_HEADLESS, args);
    }
};

std::string Line(const std::string& screen, int row) {
    size_t start = 0;
    for (int r = 0; r < row; r++)
        start = screen.find('\n', start) + 1;
    return screen.substr(start, screen.find('\n', start) - start);
}

TEST_F(Headless, ScreenShowsTextAndMosaicCells) {
    Install(HelloRom());
    Outcome run = Start({"--ticks", "3", "--screen"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Line(run.out, 0), "HELLO");
    // The switch cell is blank; then full block, left half, A, top-left sextant, all but top-left.
    EXPECT_EQ(Line(run.out, 1), " \u2588\u258CA\U0001FB00\U0001FB3B");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 24);
}

TEST_F(Headless, WaitForSucceedsOrTimesOut) {
    Install(HelloRom());
    struct Case {
        const char* text;
        int exit_code;
    };
    for (Case k : {Case{"HELLO", 0}, Case{"LLO", 0}, Case{"GOODBYE", 1}}) {
        Outcome run = Start({"--wait-for", k.text, "--timeout", "20"});
        EXPECT_EQ(run.exit_code, k.exit_code) << k.text << ": " << run.err;
        if (k.exit_code == 1) {
            EXPECT_NE(run.err.find("GOODBYE"), std::string::npos) << run.err;
        }
    }
}

TEST_F(Headless, TypedKeysReachTheScreen) {
    Install(EchoRom());
    Outcome run = Start(
        {"--type", "Hi 5+\u00C5\u00E4\u00D6", "--key", "ctrl+c", "--type", "\\x7f", "--screen"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // Ctrl-C gives code 03h, a blank cell; Ctrl+< gives 7Fh, the full block.
    EXPECT_EQ(Line(run.out, 0), EchoRow("Hi 5+\u00C5\u00E4\u00D6 \u2588", 10));
}

TEST_F(Headless, TypingWithCapsLockOnKeepsTheCaseAsked) {
    Install(EchoRom());
    Outcome run = Start({"--key", "caps", "--type", "aB", "--screen"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Line(run.out, 0), EchoRow("aB", 2));
}

TEST_F(Headless, PbmAndPngHoldTheSamePicture) {
    Install(HelloRom());
    Outcome run = Start({"--wait-for", "HELLO", "--pbm", "out.pbm", "--png", "out.png"});
    ASSERT_EQ(run.exit_code, 0) << run.err;

    std::string pbm = folder.ReadFile("out.pbm");
    const std::string header = "P4\n240 240\n";
    ASSERT_EQ(pbm.size(), header.size() + 240 * 30);
    ASSERT_EQ(pbm.substr(0, header.size()), header);
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(pbm.data() + header.size());

    // Cell 0 of row 0 is the font's H, black on white in PBM terms (1 = black).
    std::string font = ReadAll(LUNABRIK_FONT);
    for (int r = 0; r < 10; r++)
        EXPECT_EQ(pixels[r * 30] & 0xFC, ~uint8_t(font[10 * 'H' + r]) & 0xFC) << "row " << r;
    // Text rows 2-23 are blank: black in the frame, so all 1 in PBM.
    for (int i = 20 * 30; i < 240 * 30; i++)
        ASSERT_EQ(pixels[i], 0xFF) << "byte " << i;

    std::string png = folder.ReadFile("out.png");
    ASSERT_GT(png.size(), 8u);
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
    auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
    };
    std::string idat;
    std::vector<std::string> types;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = be32(at);
        ASSERT_LE(at + 12 + length, png.size());
        std::string type = png.substr(at + 4, 4);
        types.push_back(type);
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4);
        EXPECT_EQ(be32(at + 8 + length), crc) << type;
        if (type == "IHDR") {
            EXPECT_EQ(be32(at + 8), 240u);
            EXPECT_EQ(be32(at + 12), 240u);
            EXPECT_EQ(png.substr(at + 16, 5), std::string("\x01\x00\x00\x00\x00", 5));
        }
        if (type == "IDAT") idat += png.substr(at + 8, length);
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    std::vector<uint8_t> raw(240 * 31 + 1);
    uLongf raw_size = raw.size();
    ASSERT_EQ(
        uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(idat.data()), idat.size()),
        Z_OK);
    ASSERT_EQ(raw_size, 240u * 31);
    for (int y = 0; y < 240; y++) {
        ASSERT_EQ(raw[y * 31], 0) << "filter byte of line " << y;
        for (int x = 0; x < 30; x++)
            ASSERT_EQ(raw[y * 31 + 1 + x], uint8_t(~pixels[y * 30 + x])) << y << "," << x;
    }
}

// A missing image is named with the folders looked in. Without basic.rom the runner moves to the
// per-user folder, which it creates with a Files/ folder; only where the free images are installed
// on this machine does the run then succeed from there. Without font.bin the machine runs as in the
// window, its display black, and standard error says so.
TEST_F(Headless, MissingFilesAreNamed) {
    for (const char* name : {"basic.rom", "dev_dos.rom", "font.bin"}) {
        Install(HelloRom());
        ASSERT_EQ(std::remove(name), 0) << name;
        Outcome run = Start({"--wait-for", "HELLO"});
        const bool moved = std::string(name) == "basic.rom";
        if (moved && run.exit_code == 0) {
            EXPECT_EQ(access("xdg/lunabrik/basic.rom", F_OK), 0);
            continue;
        }
        EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
        if (std::string(name) == "font.bin") {
            EXPECT_EQ(run.exit_code, 0) << run.err;
            EXPECT_NE(run.err.find("the display stays black"), std::string::npos) << run.err;
            continue;
        }
        EXPECT_EQ(run.exit_code, 2) << name;
        EXPECT_NE(run.err.find(folder.path()), std::string::npos) << run.err;
        if (moved) {
            EXPECT_EQ(access("xdg/lunabrik/Files", F_OK), 0);
        }
    }
}

// Started anywhere in the source tree, where no images lie, the build's runner works in the
// build's run folder, as make run starts the window there; the per-user folder is left alone.
TEST_F(Headless, StartedInTheSourceTreeUsesTheRunFolder) {
    if (access(LUNABRIK_RUN_DIR "/basic.rom", F_OK) != 0)
        GTEST_SKIP() << "the free images are not in the run folder";
    for (const std::string where : {"", "/tests/data"}) {
        const std::string command =
            "cd " + Quote(LUNABRIK_SOURCE_DIR + where) +
            " && XDG_DATA_HOME=" + Quote(folder.path() + "/xdg") + " timeout 60 " +
            Quote(LUNABRIK_HEADLESS) + " --wait-for READY --screen >" +
            Quote(folder.path() + "/out.txt") + " 2>" + Quote(folder.path() + "/err.txt");
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << where << ": " << folder.ReadFile("err.txt");
        EXPECT_NE(folder.ReadFile("out.txt").find("READY"), std::string::npos) << where;
        EXPECT_NE(access("xdg/lunabrik", F_OK), 0) << "the per-user folder was made";
    }
}

// --dir names the folder: created, given a Files/ folder, and used for every file.
TEST_F(Headless, DirChoosesTheFolder) {
    Install(HelloRom());
    ASSERT_EQ(mkdir("other", 0755), 0);
    for (const char* f : {"basic.rom", "dev_dos.rom", "font.bin"})
        folder.WriteFile(std::string("other/") + f, folder.ReadFile(f));
    std::remove("basic.rom"); // the working directory alone would not do
    Outcome run = Start({"--dir", "other", "--wait-for", "HELLO", "--png", "shot.png"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(access("shot.png", F_OK), 0) << "pictures are named from where the run started";
    EXPECT_EQ(access("other/Files", F_OK), 0);
    Outcome fresh = Start({"--dir", "new/deeper", "--ticks", "1"});
    EXPECT_EQ(access("new/deeper/Files", F_OK), 0) << "created with its Files/ folder";
}

TEST_F(Headless, BadArgumentsExitWithTwo) {
    Install(HelloRom());
    const std::vector<std::vector<std::string>> cases = {
        {"--frobnicate"},           {"--ticks"},
        {"--ticks", "many"},        {"--timeout", "-3"},
        {"--instructions", "0"},    {"--type", "\u20AC"},
        {"--type", "\\q"},          {"--type", "\\x4"},
        {"--key", "hyper+q"},       {"--pbm", "no/such/dir/x.pbm"},
        {"--key-ticks", "0"},       {"--ticks", "99999999999999999999"},
        {"--timeout", "100000001"}, {"--time-limit", "0"},
        {"--instructions", "12x"},  {"--type", "\xC0\x80"}, // overlong NUL
    };
    for (const auto& args : cases) {
        Outcome run = Start(args);
        EXPECT_EQ(run.exit_code, 2) << args[0] << (args.size() > 1 ? " " + args[1] : "");
        EXPECT_FALSE(run.err.empty()) << args[0];
    }
    Outcome help = Start({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* option : {"--type", "--key", "--wait-for", "--ticks", "--screen", "--pbm",
                               "--png", "--timeout", "--realtime", "--fail-on-stall"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// Malformed UTF-8 in typed text is refused with the byte offset where it starts.
TEST_F(Headless, MalformedTypedTextNamesTheOffset) {
    Install(HelloRom());
    const struct {
        const char* text;
        const char* offset;
    } cases[] = {
        {"ab\xFF", "offset 2"}, {"\xC3\xA5\xE0\x80\xAF", "offset 2"}, {"\x80", "offset 0"}};
    for (const auto& c : cases) {
        Outcome run = Start({"--type", c.text});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(c.offset), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("FFFFFFFF"), std::string::npos) << run.err;
    }
}

// Output that cannot be written is an error: the screen to a full device, a picture whose
// temporary file cannot be made (and then no partial picture is left).
TEST_F(Headless, OutputFailuresExitWithTwo) {
    Install(HelloRom());
    std::string command =
        "timeout 60 " + Quote(LUNABRIK_HEADLESS) + " --ticks 1 --screen >/dev/full 2>err.txt";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(folder.ReadFile("err.txt").find("standard output"), std::string::npos);

    // A folder by the picture's name: the rename over it fails after the temporary file was
    // written, which must then be gone again.
    ASSERT_EQ(mkdir("pic.png", 0755), 0);
    Outcome run = Start({"--ticks", "1", "--png", "pic.png"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("pic.png"), std::string::npos) << run.err;
    size_t temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().filename().string().rfind("pic.png.", 0) == 0) ++temporaries;
    EXPECT_EQ(temporaries, 0u) << "no partial picture left behind";
}

// A huge waitstates makes each instruction take a second or more: the 1,000 ticks asked for would
// take days. --time-limit still ends the run, with its own exit code (a run that went on would be
// ended by Start's outer time limit instead, with another).
TEST_F(Headless, TimeLimitEndsASlowRun) {
    Install(HelloRom());
    std::string cfg(260, '\0');
    const int32_t huge = 2000000000;
    std::memcpy(&cfg[0], &huge, 4);
    folder.WriteFile("Lunabrik.cfg", cfg);
    Outcome run = Start({"--time-limit", "1", "--ticks", "1000"});
    EXPECT_EQ(run.exit_code, 5) << run.err;
    EXPECT_NE(run.err.find("time limit"), std::string::npos) << run.err;
}

// A guest's create that the file service refuses (here Lunabrik.cfg itself, with the files folder
// the working directory) is said on standard error and ends the run with exit code 4.
TEST_F(Headless, RefusedHostFileCreateExitsWithFour) {
    Install(Rom()
                .At(0x0000,
                    {
                        0x31, 0x00, 0xF0, // LD SP,F000h
                        0x11, 0x40, 0x00, // LD DE,0040h: the name record
                        0x06, 0x00,       // LD B,0
                        0x3E, 0x01,       // LD A,1: create
                        0xD3, 0xFF,       // OUT (FFh),A
                        0x76,             // 000C: HALT
                        0x18, 0xFD,       // JR 000Ch
                    })
                .At(0x0040, {'L', 'U', 'N', 'A', 'B', 'R', 'I', 'K', 'C', 'F', 'G'})
                .At(0x0066, {0xED, 0x45}));
    const std::string cfg(260, '\0'); // waitstates 0, an empty folder: the working directory
    folder.WriteFile("Lunabrik.cfg", cfg);
    Outcome run = Start({"--ticks", "3"});
    EXPECT_EQ(run.exit_code, 4) << run.err;
    EXPECT_NE(run.err.find("LUNABRIK.CFG"), std::string::npos) << run.err;
    EXPECT_EQ(folder.ReadFile("Lunabrik.cfg"), cfg) << "the settings file is untouched";
    EXPECT_NE(Start({"--help"}).out.find("4 a host file"), std::string::npos);
}

// LD A,R draws from a generator the run seeds: the same --seed gives the same screen.
TEST_F(Headless, SeedMakesLoadAFromRefreshRepeatable) {
    Install(Rom()
                .At(0x0000,
                    {
                        0x31, 0x00, 0xF0, // LD SP,F000h
                        0x21, 0x00, 0x7C, // LD HL,7C00h
                        0x06, 0x08,       // LD B,8
                        0xED, 0x5F,       // 0008: LD A,R
                        0xE6, 0x0F,       // AND 0Fh
                        0xC6, 0x41,       // ADD A,'A'
                        0x77,             // LD (HL),A
                        0x23,             // INC HL
                        0x10, 0xF6,       // DJNZ 0008h
                        0x76,             // 0012: HALT
                        0x18, 0xFD,       // JR 0012h
                    })
                .At(0x0066, {0xED, 0x45}));
    auto row = [&](const char* seed) {
        Outcome run = Start({"--seed", seed, "--ticks", "2", "--screen"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        return Line(run.out, 0);
    };
    const std::string first = row("1");
    EXPECT_EQ(first.size(), 8u);
    EXPECT_EQ(row("1"), first);
    EXPECT_NE(row("2"), first);
}

// --stats: a busy loop (JR $, 12 T-states) runs exactly the instructions asked per tick at full
// speed; with waitstates -1 each tick's budget of 60,000 T-states bounds it instead.
TEST_F(Headless, StatsAndTheRealSpeedBudget) {
    Install(Rom().At(0x0000, {0x31, 0x00, 0xF0, 0x18, 0xFE}).At(0x0066, {0xED, 0x45}));
    auto stats = [&](const std::vector<std::string>& args) {
        Outcome run = Start(args);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        std::map<std::string, double> values;
        std::istringstream in(run.out);
        std::string name;
        double value;
        while (in >> name >> value)
            values[name] = value;
        return values;
    };
    auto fast = stats({"--instructions", "1000", "--ticks", "10", "--stats"});
    EXPECT_EQ(fast["instructions"], 10000);
    EXPECT_EQ(fast["ticks"], 10);
    EXPECT_GT(fast["tstates"], 10000 * 11);
    EXPECT_LT(fast["tstates"], 10000 * 13);

    std::string cfg(260, '\0');
    const int32_t real_speed = -1;
    std::memcpy(&cfg[0], &real_speed, 4);
    folder.WriteFile("Lunabrik.cfg", cfg);
    auto real = stats({"--instructions", "1000000", "--ticks", "10", "--stats"});
    EXPECT_NEAR(real["tstates"], 10 * 60000, 40) << "the budget bounds each tick";
    EXPECT_LT(real["instructions"], 10 * 60000 / 12 + 20);
}

TEST_F(Headless, StallIsReportedButBusyLoopsAreNot) {
    struct Case {
        const char* what;
        Bytes code;
        bool fail_on_stall;
        int exit_code;
    };
    const Case cases[] = {
        {"ED 00 stalls", {0xED, 0x00}, true, 3},
        {"a warning only", {0xED, 0x00}, false, 0},
        {"JR $ is a loop", {0x18, 0xFE}, true, 0},
        // LDIR over 8 KB repeats at one PC, but BC, DE and HL move: not a stall.
        {"long LDIR",
         {0x21, 0x00, 0x80, 0x11, 0x00, 0xA0, 0x01, 0x00, 0x20, 0xED, 0xB0, 0x18, 0xFE},
         true,
         0},
    };
    for (const Case& k : cases) {
        Install(Rom().At(0, k.code).At(0x0066, {0xED, 0x45}));
        std::vector<std::string> args = {"--ticks", "5"};
        if (k.fail_on_stall) args.push_back("--fail-on-stall");
        Outcome run = Start(args);
        EXPECT_EQ(run.exit_code, k.exit_code) << k.what << ": " << run.err;
        bool stalled = k.code[0] == 0xED && k.code[1] == 0x00;
        EXPECT_EQ(run.err.find("PC=0000") != std::string::npos, stalled) << k.what << run.err;
    }
}

// The processor and the tick timer on threads of their own.
TEST_F(Headless, ThreadedRealTimeModeRunsAndTypes) {
    Install(EchoRom());
    Outcome run = Start({"--realtime", "--key-ticks", "1", "--type", "Ok", "--wait-for", "Ok",
                         "--timeout", "100", "--ticks", "2", "--screen"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Line(run.out, 0), EchoRow("Ok", 2));

    Install(Rom().At(0, {0xED, 0x00}).At(0x0066, {0xED, 0x45}));
    run = Start({"--realtime", "--fail-on-stall", "--ticks", "10"});
    EXPECT_EQ(run.exit_code, 3) << run.err;
}

} // namespace
