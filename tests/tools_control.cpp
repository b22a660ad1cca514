// The control protocol end to end: lunabrik-headless runs a script file (or standard input) on a
// small ROM written here, and every answer line is checked; bad lines are answered and the
// session goes on. Also the free BASIC's line break and variables, and the JSON reader.
#include "test_support.h"
#include "tools/json.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// 0000 LD SP,0xF000 / LD HL,0x0040 / LD DE,0xA000 / LD BC,4 / LDIR / CALL 0x0200 / LD A,7 /
// OUT (0x10),A / IN A,(0x11) / LD (0xB000),A / JR $ ; 0200 INC A / CALL 0x0300 / RET ;
// 0300 NOP / RET ; the NMI returns at once.
std::string ProgramRom() {
    std::string rom(16384, '\xFF');
    auto at = [&rom](size_t address, std::vector<uint8_t> bytes) {
        for (uint8_t b : bytes)
            rom[address++] = char(b);
    };
    at(0x0000,
       {0x31, 0x00, 0xF0, 0x21, 0x40, 0x00, 0x11, 0x00, 0xA0, 0x01, 0x04, 0x00, 0xED, 0xB0,
        0xCD, 0x00, 0x02, 0x3E, 0x07, 0xD3, 0x10, 0xDB, 0x11, 0x32, 0x00, 0xB0, 0x18, 0xFE});
    at(0x0040, {1, 2, 3, 4});
    at(0x0066, {0xED, 0x45});
    at(0x0200, {0x3C, 0xCD, 0x00, 0x03, 0xC9});
    at(0x0300, {0x00, 0xC9});
    return rom;
}

// What a run gave: its exit code, its standard output line by line, its standard error.
struct Session {
    int exit_code;
    std::vector<std::string> lines;
    std::string err;
};

class Control : public ::testing::Test {
  protected:
    ScratchFolder folder;

    void Install(const std::string& rom) {
        folder.WriteFile("basic.rom", rom);
        folder.WriteFile("dev_dos.rom", "");
        folder.WriteFile("font.bin", ReadAll(LUNABRIK_FONT));
    }

    // Runs the runner with args, standard input from the file "in.txt" when there is one.
    // before is shell text run first (a ulimit).
    Session Start(const std::string& args, const std::string& before = {}) {
        const std::string command = before + "timeout 120 '" + std::string(LUNABRIK_HEADLESS) +
                                    "' " + args + " <in.txt >out.txt 2>err.txt";
        if (access("in.txt", F_OK) != 0) folder.WriteFile("in.txt", "");
        const int status = std::system(command.c_str());
        Session o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, folder.ReadFile("err.txt")};
        std::istringstream out(folder.ReadFile("out.txt"));
        for (std::string line; std::getline(out, line);)
            o.lines.push_back(line);
        return o;
    }
};

// A script of request lines and the answer each must get (null: the line gets none).
struct Exchange {
    const char* request;
    const char* answer;
};

void ExpectAnswers(const Session& run, const std::vector<Exchange>& script) {
    size_t n = 0;
    for (const auto& e : script) {
        if (!e.answer) continue;
        ASSERT_LT(n, run.lines.size()) << "no answer to " << e.request << "\n" << run.err;
        EXPECT_EQ(run.lines[n], e.answer) << "to " << e.request;
        ++n;
    }
    EXPECT_EQ(run.lines.size(), n);
}

std::string ScriptText(const std::vector<Exchange>& script) {
    std::string text;
    for (const auto& e : script)
        text += std::string(e.request) + "\n";
    return text;
}

} // namespace

TEST_F(Control, ScriptDrivesBreakpointsStepsAndMemory) {
    Install(ProgramRom());
    folder.WriteFile("user.sym", "main = 0x0000\nsub EQU 0200H\nnot a symbol line\n");
    const std::vector<Exchange> script = {
        {"# breakpoints of each kind, in the order the program meets them", nullptr},
        {R"({"cmd":"break","pc":14})", R"({"ok":true,"id":1})"},
        {R"({"cmd":"continue","max_ticks":10})", R"({"ok":true,"stopped":"break","id":1,"pc":14})"},
        {R"({"cmd":"peek","addr":40960,"len":4})", R"({"ok":true,"hex":"01020304"})"},
        {R"({"cmd":"step_over"})", R"({"ok":true,"stopped":"step_over","pc":17})"},
        {R"({"cmd":"set_regs","pc":14,"hl_":4660,"iff1":true})", R"({"ok":true})"},
        {R"({"cmd":"step","count":1})", R"({"ok":true,"stopped":"step","pc":512})"},
        {R"({"cmd":"step_out","max_ticks":10})", R"({"ok":true,"stopped":"step_out","pc":17})"},
        {R"({"cmd":"regs"})",
         R"({"ok":true,"pc":17,"sp":61440,"af":512,"bc":0,"de":40964,"hl":68,"ix":0,"iy":0,"af_":0,"bc_":0,"de_":0,"hl_":4660,"i":0,"r":0,"iff1":true,"iff2":false,"im":0,"halted":false})"},
        {R"({"cmd":"break_io","port":16,"dir":"out"})", R"({"ok":true,"id":2})"},
        {R"({"cmd":"watch","addr":45056,"len":1,"access":"w"})", R"({"ok":true,"id":3})"},
        {R"({"cmd":"continue","max_ticks":10})",
         R"({"ok":true,"stopped":"io","id":2,"addr":16,"value":7,"pc":21})"},
        {R"({"cmd":"continue","max_ticks":10})",
         R"({"ok":true,"stopped":"watch","id":3,"addr":45056,"value":0,"pc":26})"},
        {R"({"cmd":"continue","max_ticks":10})", R"({"ok":true,"stopped":"ticks","pc":26})"},
        {R"({"cmd":"delete","id":2})", R"({"ok":true})"},
        {R"({"cmd":"list_breaks"})",
         R"({"ok":true,"breaks":[{"id":1,"kind":"break","addr":14,"len":1,"enabled":true,"hits":1,"text":"exec 0x000E"},{"id":3,"kind":"watch_w","addr":45056,"len":1,"enabled":true,"hits":1,"text":"watch w 0xB000"}]})"},
        {R"({"cmd":"poke","addr":65535,"hex":"aB01"})", R"({"ok":true})"},
        {R"({"cmd":"peek","addr":65535,"len":2})", R"({"ok":true,"hex":"AB01"})"},
        {R"({"cmd":"symbols","file":"user.sym"})", R"({"ok":true,"loaded":2,"skipped":1})"},
        {"# a breakpoint as text: what list_breaks writes, break reads", nullptr},
        {R"({"cmd":"delete","id":1})", R"({"ok":true})"},
        {R"({"cmd":"delete","id":3})", R"({"ok":true})"},
        {R"({"cmd":"break","text":"w sub+10 if hl_ != 1234 once [copy]"})",
         R"({"ok":true,"id":4})"},
        {R"({"cmd":"list_breaks"})",
         R"({"ok":true,"breaks":[{"id":4,"kind":"watch_w","addr":512,"len":16,"enabled":true,"hits":0,"text":"watch w 0x0200+0x10 if HL' != 0x1234 once [copy]"}]})"},
        {R"({"cmd":"break","text":"watch w 0x0200+0x10 if HL' != 0x1234 once [copy]"})",
         R"({"ok":true,"id":5})"},
        {R"({"cmd":"break","text":"in 100"})", R"({"ok":false,"error":"a port is 0-FF"})"},
        {R"({"cmd":"break","text":"nmi","pc":3})",
         R"({"ok":false,"error":"\"text\" comes without \"pc\" or \"if\""})"},
        {R"({"cmd":"disasm","addr":12,"count":2})",
         R"({"ok":true,"lines":[{"addr":12,"hex":"ED B0","text":"LDIR"},{"addr":14,"hex":"CD 00 02","text":"CALL 0x0200"}]})"},
        {R"({"cmd":"disasm","addr":512})",
         R"({"ok":true,"lines":[{"addr":512,"hex":"3C","text":"INC A","symbol":"sub"}]})"},
        {"# bad input: each answered, the session goes on", nullptr},
        {"not json", R"({"ok":false,"error":"malformed JSON: unknown word at column 1"})"},
        {"+1", R"({"ok":false,"error":"malformed JSON: not a value at column 1"})"},
        {R"({"cmd":"peek","addr":70000})",
         R"({"ok":false,"error":"\"addr\" must be a whole number from 0 to 65535"})"},
        {R"({"cmd":"peek","addr":1.5})",
         R"({"ok":false,"error":"\"addr\" must be a whole number from 0 to 65535"})"},
        {R"({"cmd":"peek","addr":"12"})",
         R"({"ok":false,"error":"\"addr\" must be a whole number from 0 to 65535"})"},
        {R"({"cmd":"step","count":0})",
         R"({"ok":false,"error":"\"count\" must be a whole number from 1 to 10000000"})"},
        {R"({"cmd":"run","ticks":10000000000})",
         R"({"ok":false,"error":"\"ticks\" must be a whole number from 1 to 100000000"})"},
        {R"({"cmd":"frobnicate"})", R"({"ok":false,"error":"unknown command \"frobnicate\""})"},
        {R"([1,2])", R"({"ok":false,"error":"a request is a JSON object"})"},
        {R"({"cmd":"poke","addr":0,"hex":"XYZ"})",
         R"({"ok":false,"error":"\"hex\" must be pairs of hex digits, 1 to 65536 bytes"})"},
        {R"({"cmd":"watch","addr":0,"len":0})",
         R"({"ok":false,"error":"\"len\" must be a whole number from 1 to 65536"})"},
        {R"({"cmd":"delete","id":2})", R"({"ok":false,"error":"no breakpoint 2"})"},
        {R"({"cmd":"set_regs","a":1})", R"({"ok":false,"error":"unknown register \"a\""})"},
        {R"({"cmd":"regs","cmd":"quit"})",
         R"({"ok":false,"error":"malformed JSON: a member name given twice at column 27"})"},
        {R"({"cmd":"run","ticks":2})", R"({"ok":true})"},
        {R"({"cmd":"quit"})", R"({"ok":true})"},
        {R"({"cmd":"regs"})", nullptr}, // after quit: never read
    };
    folder.WriteFile("session.txt", ScriptText(script));
    const Session run = Start("--script session.txt");
    ExpectAnswers(run, script);
    EXPECT_EQ(run.exit_code, 2) << run.err; // the last failed command's: an error answer
}

// A state saved in the session brings memory and registers back after they were changed; bad
// requests are answered and change nothing.
TEST_F(Control, StatesSaveAndLoadTheMachine) {
    Install(ProgramRom());
    folder.WriteFile("in.txt", R"({"cmd":"break","pc":14}
{"cmd":"continue","max_ticks":10}
{"cmd":"save_state","file":"here.lbs"}
{"cmd":"poke","addr":40960,"hex":"FFFFFFFF"}
{"cmd":"set_regs","pc":0}
{"cmd":"load_state","file":"here.lbs"}
{"cmd":"peek","addr":40960,"len":4}
{"cmd":"regs"}
{"cmd":"load_state","file":"missing.lbs"}
{"cmd":"load_state","file":"here.lbs","force":1}
{"cmd":"save_state"}
{"cmd":"peek","addr":40960,"len":4}
)");
    const Session run = Start("--control");
    ASSERT_EQ(run.lines.size(), 12u) << run.err;
    for (int i : {2, 5}) {
        EXPECT_EQ(run.lines[i].rfind(R"({"ok":true,"message":)", 0), 0u) << run.lines[i];
        EXPECT_NE(run.lines[i].find(R"("closed":[])"), std::string::npos) << run.lines[i];
    }
    EXPECT_EQ(run.lines[6], R"({"ok":true,"hex":"01020304"})");
    EXPECT_EQ(run.lines[7].rfind(R"({"ok":true,"pc":14,)", 0), 0u) << run.lines[7];
    EXPECT_EQ(run.lines[8].rfind(R"({"ok":false,"error":)", 0), 0u) << run.lines[8];
    EXPECT_EQ(run.lines[9], R"({"ok":false,"error":"\"force\" must be true or false"})");
    EXPECT_EQ(run.lines[10], R"({"ok":false,"error":"\"file\" must be a string"})");
    EXPECT_EQ(run.lines[11], R"({"ok":true,"hex":"01020304"})");
    EXPECT_TRUE(std::ifstream(folder.path() + "/here.lbs").good());
}

// Interactive: standard input to its end; errors do not change the exit code. A wait that did not
// see its text makes a script fail with 1.
TEST_F(Control, ControlEndsAtEndOfInputAndWaitsAreBounded) {
    Install(ProgramRom());
    const std::vector<Exchange> session = {
        {R"({"cmd":"wait_for","text":"NEVER","timeout_ticks":3})", R"({"ok":true,"found":false})"},
        {"{", R"({"ok":false,"error":"malformed JSON: a member name expected at column 2"})"},
        {R"({"cmd":"continue","max_ticks":5})", R"({"ok":true,"stopped":"ticks","pc":26})"},
    };
    folder.WriteFile("in.txt", ScriptText(session));
    Session run = Start("--control");
    ExpectAnswers(run, session);
    EXPECT_EQ(run.exit_code, 0) << run.err;

    folder.WriteFile("wait.txt", ScriptText({session[0]}));
    run = Start("--script wait.txt");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(Start("--script missing.txt").exit_code, 2);
}

// A trace writes only a plain file or a new one: the ROM image, a link (and what it points to), a
// FIFO (which would block) and a device are refused and stay as they were. Its size is bounded
// (said in the answer when reached) and a failed write ends it with an error answer.
TEST_F(Control, TraceWritesOnlyItsOwnFileAndSaysHowItEnded) {
    Install(ProgramRom());
    folder.WriteFile("outside.txt", "kept");
    ASSERT_EQ(symlink("outside.txt", "link"), 0);
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const struct {
        const char* file;
        const char* said; // in the error answer
    } refused[] = {{"basic.rom", "basic.rom"},
                   {"link", "symbolic link"},
                   {"fifo", "FIFO"},
                   {"/dev/full", "device"}};
    std::string script;
    for (const auto& r : refused)
        script += std::string(R"({"cmd":"trace","file":")") + r.file + "\"}\n";
    script += R"({"cmd":"trace","file":"small.txt","max_bytes":100})"
              "\n"
              R"({"cmd":"run","ticks":1})"
              "\n"
              R"({"cmd":"trace","file":"big.txt"})"
              "\n"
              R"({"cmd":"run","ticks":3})"
              "\n";
    folder.WriteFile("in.txt", script);
    // 64 blocks: far less than three ticks of trace.
    Session run = Start("--control", "ulimit -f 64; ");
    ASSERT_EQ(run.lines.size(), std::size(refused) + 4) << run.err;
    for (size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(run.lines[i].rfind(R"({"ok":false,"error":)", 0), 0u) << run.lines[i];
        EXPECT_NE(run.lines[i].find(refused[i].said), std::string::npos) << run.lines[i];
    }
    EXPECT_EQ(ReadAll("basic.rom"), ProgramRom());
    EXPECT_EQ(ReadAll("outside.txt"), "kept");
    const std::string small = ReadAll("small.txt");
    EXPECT_GT(small.size(), 0u);
    EXPECT_LE(small.size(), 100u);
    EXPECT_EQ(small.back(), '\n') << "whole lines only";
    const std::string limit = run.lines[std::size(refused) + 1];
    EXPECT_EQ(limit.rfind(R"({"ok":true,"trace_end":)", 0), 0u) << limit;
    EXPECT_NE(limit.find(R"("bytes":)" + std::to_string(small.size())), std::string::npos) << limit;
    EXPECT_NE(limit.find("max_bytes"), std::string::npos) << limit;
    const std::string failed = run.lines.back();
    EXPECT_EQ(failed.rfind(R"({"ok":false,"error":"the trace to )", 0), 0u) << failed;
    EXPECT_NE(failed.find("File too large"), std::string::npos) << failed;
    EXPECT_NE(failed.find(R"("bytes":)" + std::to_string(ReadAll("big.txt").size())),
              std::string::npos)
        << failed;
}

// Every answer is UTF-8, whatever bytes a file gave it: a state whose host file slot names a file
// in another encoding answers with that byte as the character of its value.
TEST_F(Control, AnswersStayUtf8WithForeignNames) {
    std::string rom(16384, '\xFF');
    const char code[] = "\x31\x00\xF0"     // LD SP,F000h
                        "\x11\x40\x00"     // LD DE,0040h: the name record
                        "\x06\x02"         // LD B,2
                        "\x3E\x01\xD3\xFF" // LD A,1 / OUT (FFh),A: create
                        "\x76\x18\xFD";    // HALT / JR back to it
    rom.replace(0, sizeof code - 1, code, sizeof code - 1);
    rom.replace(0x40, 11, "LOG     TXT");
    rom.replace(0x66, 2, "\xED\x45");
    Install(rom);
    folder.WriteFile("Lunabrik.cfg", std::string(260, '\0')); // files in the folder itself
    folder.WriteFile("in.txt", R"({"cmd":"run","ticks":2}
{"cmd":"save_state","file":"s.lbs"}
)");
    ASSERT_EQ(Start("--control").exit_code, 0);
    std::string state = ReadAll("s.lbs");
    const size_t name = state.find("LOG.TXT");
    ASSERT_NE(name, std::string::npos);
    state[name + 3] = '\xE9'; // Latin-1 e acute: not UTF-8 on its own
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(state.data()), uInt(state.size() - 4));
    for (int i = 0; i < 4; ++i)
        state[state.size() - 4 + size_t(i)] = char(crc >> 8 * i);
    folder.WriteFile("s.lbs", state);
    folder.WriteFile("in.txt", R"({"cmd":"load_state","file":"s.lbs"}
)");
    const Session run = Start("--control");
    ASSERT_EQ(run.lines.size(), 1u) << run.err;
    EXPECT_NE(run.lines[0].find(R"("closed":["slot 2 LOG\u00E9TXT: gone"])"), std::string::npos)
        << run.lines[0];
    JsonValue answer;
    std::string error;
    EXPECT_TRUE(ParseJson(run.lines[0], answer, error)) << error;
    for (size_t i = 0; i < run.lines[0].size(); ++i)
        EXPECT_LT(uint8_t(run.lines[0][i]), 0x80) << "at " << i;
}

// Lines that are nearly empty: a whitespace-only request is answered (a client waiting for its
// answer would wait for ever), a byte order mark before a script's first line is not part of it.
TEST_F(Control, WhitespaceAndByteOrderMark) {
    Install(ProgramRom());
    folder.WriteFile("in.txt", " \t\n\n{\"cmd\":\"peek\",\"addr\":64}\n");
    Session run = Start("--control");
    ASSERT_EQ(run.lines.size(), 2u) << run.err;
    EXPECT_EQ(run.lines[0], R"({"ok":false,"error":"an empty request"})");
    EXPECT_EQ(run.lines[1], R"({"ok":true,"hex":"01"})");
    folder.WriteFile("bom.txt", "\xEF\xBB\xBF{\"cmd\":\"peek\",\"addr\":65}\n  \n");
    run = Start("--script bom.txt");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 1u) << run.err;
    EXPECT_EQ(run.lines[0], R"({"ok":true,"hex":"02"})");
}

// The free BASIC built here: a breakpoint on a program line stops it there, with the variables
// of the lines before it set.
TEST_F(Control, FreeBasicStopsAtALineAndShowsItsVariables) {
    const std::string images = LUNABRIK_IMAGES;
    if (access((images + "/basic.rom.sym").c_str(), F_OK) != 0)
        GTEST_SKIP() << "the free ROM is not built";
    for (const char* f : {"basic.rom", "dev_dos.rom", "font.bin", "basic.rom.sym"})
        folder.WriteFile(f, ReadAll(images + "/" + f));
    const std::vector<Exchange> script = {
        {R"({"cmd":"wait_for","text":"READY","timeout_ticks":500})", R"({"ok":true,"found":true})"},
        {R"({"cmd":"type","text":"10 A=2.5:N%=-3:S$=\"HI\"\r20 DIM X(3):X(1)=7\r30 PRINT A\r"})",
         R"({"ok":true})"},
        {R"({"cmd":"basic_break","line":30})", nullptr},
        {R"({"cmd":"basic_break","line":0})", R"({"ok":false,"error":"a BASIC line is 1-65535"})"},
        {R"({"cmd":"type","text":"RUN\r"})", nullptr},
        {R"({"cmd":"basic_vars"})",
         R"j({"ok":true,"vars":[{"name":"A","value":"2.5"},{"name":"N%","value":"-3"},{"name":"S$","value":"\"HI\""},{"name":"X()","value":"(3): 0, 7, 0, 0"}],"line":30})j"},
        {R"({"cmd":"continue","max_ticks":100})", nullptr},
        {R"({"cmd":"wait_for","text":" 2.5","timeout_ticks":100})", R"({"ok":true,"found":true})"},
    };
    folder.WriteFile("basic.txt", ScriptText(script));
    const Session run = Start("--script basic.txt");
    ASSERT_EQ(run.lines.size(), 8u) << run.err;
    EXPECT_NE(run.lines[2].find(R"("ok":true,"id":)"), std::string::npos) << run.lines[2];
    EXPECT_NE(run.lines[4].find(R"("stopped":"break")"), std::string::npos) << run.lines[4];
    ExpectAnswers({run.exit_code,
                   {run.lines[0], run.lines[1], run.lines[3], run.lines[5], run.lines[7]},
                   run.err},
                  {script[0], script[1], script[3], script[5], script[7]});
    EXPECT_EQ(run.exit_code, 2); // the refused line 0
}

// A type the machine does not take in time (a running program that reads no keys, its queue
// full) drops what it had left and says how much; the next type starts clean: its Ctrl-C stops
// the program at once, and a command typed then runs.
TEST_F(Control, TypeThatTimesOutDropsItsRest) {
    const std::string images = LUNABRIK_IMAGES;
    if (access((images + "/basic.rom.sym").c_str(), F_OK) != 0)
        GTEST_SKIP() << "the free ROM is not built";
    for (const char* f : {"basic.rom", "dev_dos.rom", "font.bin"})
        folder.WriteFile(f, ReadAll(images + "/" + f));
    const size_t length = 600;
    const std::string flood =
        R"({"cmd":"type","timeout_ticks":100,"text":")" + std::string(length, 'A') + R"("})";
    const std::vector<Exchange> script = {
        {R"({"cmd":"wait_for","text":"READY","timeout_ticks":500})", R"({"ok":true,"found":true})"},
        {R"({"cmd":"type","text":"10 GOTO 10\rRUN\r"})", R"({"ok":true})"},
        {flood.c_str(), nullptr},
        {R"({"cmd":"type","text":"\\x03","timeout_ticks":100})", R"({"ok":true})"},
        {R"({"cmd":"wait_for","text":"BREAK IN 10","timeout_ticks":100})",
         R"({"ok":true,"found":true})"},
        {R"({"cmd":"type","text":"PRINT 6*7\r","timeout_ticks":100})", R"({"ok":true})"},
        {R"({"cmd":"wait_for","text":" 42","timeout_ticks":100})", R"({"ok":true,"found":true})"},
    };
    folder.WriteFile("keys.txt", ScriptText(script));
    const Session run = Start("--script keys.txt");
    ASSERT_EQ(run.lines.size(), script.size()) << run.err;
    const std::string& answer = run.lines[2];
    EXPECT_NE(answer.find(R"("ok":false)"), std::string::npos) << answer;
    const size_t at = answer.find(R"("not_typed":)");
    ASSERT_NE(at, std::string::npos) << answer;
    const long left = std::atol(answer.c_str() + at + 12);
    EXPECT_GT(left, 0) << answer;
    EXPECT_LT(left, long(length)) << answer << ": the machine took none";
    EXPECT_NE(answer.find(std::to_string(left) + " characters not typed"), std::string::npos)
        << answer;
    std::vector<Exchange> rest(script.begin(), script.end());
    rest.erase(rest.begin() + 2);
    std::vector<std::string> lines = run.lines;
    lines.erase(lines.begin() + 2);
    ExpectAnswers({run.exit_code, lines, run.err}, rest);
    EXPECT_EQ(run.exit_code, 2); // the timed-out type counts as a failed command
}

TEST(Json, ReaderIsStrict) {
    const char* valid[] = {
        R"({})",
        R"({"a":[1,-2.5e3,true,false,null,"x"]})",
        R"( {"a" : {"b":[]}} )",
        R"("\u00e5\ud83d\ude00\n\"\\\/")",
        R"(0)",
        R"(-0.0E+1)",
    };
    for (const char* text : valid) {
        JsonValue v;
        std::string error;
        EXPECT_TRUE(ParseJson(text, v, error)) << text << ": " << error;
    }
    const char* invalid[] = {
        "",         "{",         "{\"a\":1,}",
        "[1,]",     "{'a':1}",   "01",
        "1.",       ".5",        "-",
        "1e",       "NaN",       "tru",
        "\"a",      "\"\\x41\"", "\"\\ud800\"",
        "\"\x01\"", "{\"a\" 1}", "{1:2}",
        "[1] [2]",  "1e999",     "{\"a\":1,\"a\":2}",
    };
    for (const char* text : invalid) {
        JsonValue v;
        std::string error;
        EXPECT_FALSE(ParseJson(text, v, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string deep(MaxJsonDepth + 2, '[');
    deep += std::string(MaxJsonDepth + 2, ']');
    JsonValue v;
    std::string error;
    EXPECT_FALSE(ParseJson(deep, v, error));

    ASSERT_TRUE(ParseJson(R"({"s":"\u00e5\ud83d\ude00","n":65535,"f":1.5})", v, error));
    EXPECT_EQ(v.Find("s")->string, "\u00e5\U0001F600");
    int64_t n;
    EXPECT_TRUE(v.Find("n")->Integer(0, 65535, n));
    EXPECT_FALSE(v.Find("n")->Integer(0, 65534, n));
    EXPECT_FALSE(v.Find("f")->Integer(0, 10, n));
    EXPECT_EQ(JsonString("a\"\\\n\x01"), R"("a\"\\\n\u0001")");
}
