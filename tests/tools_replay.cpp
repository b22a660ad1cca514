// Recorded sessions, seen from outside: lunabrik-headless records a run of the free BASIC (on
// this thread, or on the machine's threads in real time), replays it, and the replay ends where
// the session ended; damaged recordings are refused; the GIF of a replay reads back with giflib.
#include "system/recording.h"
#include "test_support.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The free images and the shipped Lunabrik.cfg (a real ABC80's pace) in a scratch folder.
class Replay : public ::testing::Test {
  protected:
    ScratchFolder folder;

    void SetUp() override {
        const std::string images = LUNABRIK_IMAGES;
        if (!std::filesystem::exists(images + "/basic.rom"))
            GTEST_SKIP() << "the free ROM is not built";
        for (const char* name : {"basic.rom", "dev_dos.rom", "font.bin", "Lunabrik.cfg"})
            folder.WriteFile(name, ReadAll(images + "/" + name));
        std::filesystem::create_directory(folder.path() + "/Files");
    }

    Outcome Run(const std::vector<std::string>& args) {
        return RunInFolder(LUNABRIK_HEADLESS, args);
    }
};

// The 24 screen lines that --screen prints first, and a --stats value.
std::string Screen(const std::string& out) {
    size_t end = 0;
    for (int row = 0; row < 24; ++row)
        end = out.find('\n', end) + 1;
    return out.substr(0, end);
}
uint64_t Stat(const std::string& out, const std::string& name) {
    const size_t at = out.find("\n" + name + " ");
    return at == std::string::npos ? UINT64_MAX
                                   : std::strtoull(out.c_str() + at + name.size() + 2, nullptr, 10);
}

// A program whose output hangs on the moment each key and tick arrives: the LD A,R generator
// through RND, stopped by Ctrl-C wherever it has got to.
const char* const Program = "10 PRINT I;RND(1)\\n20 I=I+1\\n30 GOTO 10\\nRUN\\n";

TEST_F(Replay, RecordedSessionsReplayToTheSameScreenAndTick) {
    struct Case {
        const char* name;
        std::vector<std::string> how;
    };
    const Case cases[] = {
        {"deterministic", {}},
        {"machine threads in real time", {"--realtime"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.how;
        // Ctrl-C, then typing once the BASIC has said where it broke off, as a user would.
        const std::vector<std::string> session = {
            "--record", "s.lbr",        "--type",     Program,    "--ticks",  "40",
            "--key",    "ctrl+c",       "--wait-for", "BREAK IN", "--ticks",  "5",
            "--type",   "PRINT 6*7\\n", "--ticks",    "10",       "--screen", "--stats"};
        args.insert(args.end(), session.begin(), session.end());
        const Outcome recorded = Run(args);
        ASSERT_EQ(recorded.exit_code, 0) << recorded.err;

        RecordingFile file;
        std::string error;
        ASSERT_TRUE(ReadRecordingFile(folder.path() + "/s.lbr", file, error)) << error;
        EXPECT_GE(file.ticks, 50u);

        const Outcome replayed = Run({"--replay", "s.lbr", "--screen", "--stats"});
        ASSERT_EQ(replayed.exit_code, 0) << replayed.err;
        EXPECT_EQ(replayed.err, ""); // nothing to say: the replay never left the recording
        EXPECT_NE(Screen(replayed.out).find(" 42"), std::string::npos) << replayed.out;
        EXPECT_EQ(Screen(replayed.out), Screen(recorded.out));
        // Where the recording ended, to the T-state, after all its ticks.
        EXPECT_EQ(Stat(replayed.out, "tstates"), file.events.back().tstates);
        EXPECT_EQ(Stat(replayed.out, "ticks"), file.ticks);
        if (c.how.empty()) { // run on this thread, the recording run stopped where it ended
            EXPECT_EQ(Stat(replayed.out, "tstates"), Stat(recorded.out, "tstates"));
            EXPECT_EQ(Stat(replayed.out, "ticks"), Stat(recorded.out, "ticks"));
        }
        // A second replay is the first again (wall-clock seconds aside).
        const std::string again = Run({"--replay", "s.lbr", "--screen", "--stats"}).out;
        EXPECT_EQ(again.substr(0, again.find("seconds")),
                  replayed.out.substr(0, replayed.out.find("seconds")));
    }
}

TEST_F(Replay, DamagedOrShortRecordingsAreRefusedWithAReason) {
    ASSERT_EQ(Run({"--record", "good.lbr", "--type", "PRINT 1\\n", "--ticks", "5"}).exit_code, 0);
    const std::string good = folder.ReadFile("good.lbr");
    ASSERT_GT(good.size(), 1000u);
    std::string flipped = good;
    flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x10);
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"a byte changed", flipped, "damaged"},
        {"cut short", good.substr(0, good.size() - 10), "cut short"},
        {"only its header", good.substr(0, 30), "cut short"},
        {"empty", "", "not a recorded session"},
        {"not one", "10 PRINT 1\n", "not a recorded session"},
        {"longer than its blocks", good + "tail", "longer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.WriteFile("bad.lbr", c.bytes);
        const Outcome o = Run({"--replay", "bad.lbr", "--screen"});
        EXPECT_EQ(o.exit_code, 6);
        EXPECT_NE(o.err.find("Cannot play the recording"), std::string::npos) << o.err;
        EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
        EXPECT_EQ(o.out, ""); // refused before anything ran
    }
}

TEST_F(Replay, GifHoldsTheReplayFrameByFrame) {
    ASSERT_EQ(Run({"--record", "s.lbr", "--type", "PRINT 123\\n", "--ticks", "60"}).exit_code, 0);
    RecordingFile file;
    std::string error;
    ASSERT_TRUE(ReadRecordingFile(folder.path() + "/s.lbr", file, error)) << error;
    const Outcome o = Run({"--replay", "s.lbr", "--gif", "s.gif", "--pbm", "end.pbm"});
    ASSERT_EQ(o.exit_code, 0) << o.err;

    int code = 0;
    GifFileType* gif = DGifOpenFileName((folder.path() + "/s.gif").c_str(), &code);
    ASSERT_NE(gif, nullptr) << GifErrorString(code);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->SWidth, 480);
    EXPECT_EQ(gif->SHeight, 480);
    // The typing and the blinking cursor change the picture many times; still stretches stand as
    // one frame, so the frames' times add up to the session's ticks.
    EXPECT_GT(gif->ImageCount, 5);
    EXPECT_LT(size_t(gif->ImageCount), size_t(file.ticks));
    long centiseconds = 0;
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock control;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
        centiseconds += control.DelayTime;
    }
    EXPECT_EQ(centiseconds, long(2 * file.ticks));
    // The last frame is the picture the replay ends on (--pbm draws it a frame later).
    const std::string pbm = folder.ReadFile("end.pbm");
    const std::string header = "P4\n240 240\n";
    ASSERT_EQ(pbm.compare(0, header.size(), header), 0);
    const SavedImage& last = gif->SavedImages[gif->ImageCount - 1];
    int differing = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 240; ++x) {
            const bool black =
                (uint8_t(pbm[header.size() + size_t(y) * 30 + size_t(x / 8)]) >> (7 - x % 8)) & 1;
            const bool lit = last.RasterBits[size_t(2 * y) * 480 + size_t(2 * x)] != 0;
            differing += black == lit;
        }
    EXPECT_LE(differing, 6 * 10); // the cursor's cell may be a blink apart
    DGifCloseFile(gif, &code);
}

} // namespace
