// The breakpoint text and the register table: what the window and the control protocol type is
// read to the breakpoint meant, written back as text that reads to the same breakpoint; each
// register name reaches its own part of the processor.
#include "system/debugger.h"
#include "system/registers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The fields a front end sets; id and hits are the debugger's.
void ExpectSame(const Breakpoint& a, const Breakpoint& b, const std::string& what) {
    EXPECT_EQ(a.kind, b.kind) << what;
    EXPECT_EQ(a.address, b.address) << what;
    EXPECT_EQ(a.length, b.length) << what;
    EXPECT_EQ(a.enabled, b.enabled) << what;
    EXPECT_EQ(a.temporary, b.temporary) << what;
    EXPECT_EQ(a.label, b.label) << what;
    EXPECT_EQ(a.basic_line, b.basic_line) << what;
    EXPECT_EQ(a.condition.active, b.condition.active) << what;
    EXPECT_EQ(a.condition.memory, b.condition.memory) << what;
    EXPECT_EQ(a.condition.reg, b.condition.reg) << what;
    EXPECT_EQ(a.condition.address, b.condition.address) << what;
    EXPECT_EQ(a.condition.op, b.condition.op) << what;
    EXPECT_EQ(a.condition.value, b.condition.value) << what;
}

class BreakpointText : public ::testing::Test {
  protected:
    void SetUp() override {
        folder.WriteFile("t.sym", "start = 0x0100\nbuffer EQU 9000H\nport_kbd = 0x38\n");
        ASSERT_TRUE(DebugLoadSymbols(folder.path() + "/t.sym"));
    }
    void TearDown() override { DebugClearSymbols(); }
    ScratchFolder folder;
};

} // namespace

TEST_F(BreakpointText, ReadsWritesAndReadsBackTheSame) {
    struct Case {
        const char* typed;
        const char* described;
    };
    const Case cases[] = {
        {"1234", "exec 0x1234"},
        {"  exec 0x1234  ", "exec 0x1234"},
        {"$beef", "exec 0xBEEF"},
        {"10h", "exec 0x0010"},
        {"start", "exec 0x0100"},
        {"line 20", "line 20"},
        {"LINE 65535", "line 65535"},
        {"w 8000+2", "watch w 0x8000+2"},
        {"r 8000+10", "watch r 0x8000+0x10"}, // lengths are hexadecimal too
        {"rw buffer + 0x10000", "watch rw 0x9000+0x10000"},
        {"watch rw 0xD148", "watch rw 0xD148"},
        {"in 38", "in 0x38"},
        {"OUT ff", "out 0xFF"},
        {"in port_kbd", "in 0x38"},
        {"int", "interrupt"},
        {"Interrupt", "interrupt"},
        {"nmi", "nmi"},
        {"1234 if a == 7", "exec 0x1234 if A == 0x07"},
        {"w 8000 if (9000)>=4", "watch w 0x8000 if (0x9000) >= 0x04"},
        {"nmi if hl_ != 1234", "nmi if HL' != 0x1234"},
        {"line 30 if (buffer) < 80", "line 30 if (0x9000) < 0x80"},
        {"in 10 if B<=0x7F once (off) [keyboard scan]",
         "in 0x10 if B <= 0x7F once (off) [keyboard scan]"},
        {"exec 100 (OFF) [a [nested] label]", "exec 0x0100 (off) [a [nested] label]"},
        {"start if IFF1 > 0", "exec 0x0100 if IFF1 > 0x00"},
    };
    for (const Case& c : cases) {
        Breakpoint first, again;
        std::string error;
        ASSERT_TRUE(ParseBreakpoint(c.typed, first, &error)) << c.typed << ": " << error;
        const std::string text = DescribeBreakpoint(first);
        EXPECT_EQ(text, c.described) << c.typed;
        ASSERT_TRUE(ParseBreakpoint(text, again, &error)) << text << ": " << error;
        ExpectSame(first, again, c.typed);
        EXPECT_EQ(DescribeBreakpoint(again), text);
    }
}

TEST_F(BreakpointText, RefusesWhatIsNotABreakpointAndLeavesItAlone) {
    for (const char* bad : {"",
                            "   ",
                            "zz9q",
                            "exec",
                            "nmi 5",
                            "int 3",
                            "line x",
                            "line 0",
                            "line 65536",
                            "w",
                            "r 8000+",
                            "r 8000+0",
                            "rw 8000+10001",
                            "w +2",
                            "in 100",
                            "out",
                            "10000",
                            "1234 if Q == 1",
                            "1234 if A = ",
                            "1234 if A ~ 3",
                            "1234 if == 3",
                            "1234 if (zz) == 3",
                            "1234 [open",
                            "1234 []",
                            "1234 5678"}) {
        Breakpoint b;
        b.label = "untouched";
        std::string error;
        EXPECT_FALSE(ParseBreakpoint(bad, b, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(b.label, "untouched") << bad;
    }
}

// What the text says is what the debugger sets: a BASIC line needs the BASIC's symbols, and a
// listed breakpoint described and read again adds the same one.
TEST_F(BreakpointText, AddsWhatItReads) {
    ResetMachineForTest();
    Breakpoint b;
    std::string error;
    ASSERT_TRUE(ParseBreakpoint("line 20", b, &error));
    EXPECT_EQ(DebugAddBreakpoint(b, &error), 0);
    EXPECT_NE(error.find("symbols"), std::string::npos) << error;

    folder.WriteFile("basic.sym", "curline = 0xD148\ntp = 0xD14A\nstatement = 0x3C10\n");
    ASSERT_TRUE(DebugLoadSymbols(folder.path() + "/basic.sym"));
    const int line = DebugAddBreakpoint(b, &error);
    ASSERT_GT(line, 0) << error;
    ASSERT_TRUE(ParseBreakpoint("w buffer+4 if (buffer) != 0 [fill]", b, &error)) << error;
    ASSERT_GT(DebugAddBreakpoint(b, &error), 0) << error;
    Breakpoint io; // as the protocol's JSON condition names a register
    io.kind = BreakKind::PortOut;
    io.address = 0xFF;
    io.condition = {true, false, "af_", 0, CompareOp::GreaterEqual, 0x100};
    ASSERT_GT(DebugAddBreakpoint(io, &error), 0) << error;

    const std::vector<Breakpoint> set = DebugBreakpoints();
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(set[0].address, 0x3C10); // the statement routine
    EXPECT_EQ(DescribeBreakpoint(set[0]), "line 20");
    EXPECT_EQ(DescribeBreakpoint(set[1]), "watch w 0x9000+4 if (0x9000) != 0x00 [fill]");
    EXPECT_EQ(DescribeBreakpoint(set[2]), "out 0xFF if AF' >= 0x100");
    for (const Breakpoint& listed : set) {
        Breakpoint again;
        ASSERT_TRUE(ParseBreakpoint(DescribeBreakpoint(listed), again, &error)) << error;
        const int id = DebugAddBreakpoint(again, &error);
        ASSERT_GT(id, 0) << error;
        Breakpoint added = DebugBreakpoints().back();
        EXPECT_EQ(added.id, id);
        ExpectSame(added, listed, DescribeBreakpoint(listed));
    }
    DebugClearBreakpoints();
}

// Every register name reaches storage of its own: distinct values written to all of them read back
// unchanged, the 8-bit halves are their pairs' bytes, and the protocol's field names find the same
// entries.
TEST(RegisterTable, EachNameHoldsItsOwnValue) {
    ResetMachineForTest();
    uint32_t seed = 0x1357;
    auto value_for = [&](const RegisterEntry& r) {
        seed = seed * 2654435761u + 0x9E37;
        return (seed >> 7) % (RegisterMax(r.width) + 1);
    };
    std::vector<uint32_t> written;
    for (const RegisterEntry& r : RegisterTable()) {
        if (!r.listed) continue;
        written.push_back(std::string(r.name) == "R" ? 0 : value_for(r));
        ASSERT_TRUE(DebugSetRegister(r.name, written.back())) << r.name;
    }
    size_t i = 0;
    for (const RegisterEntry& r : RegisterTable()) {
        if (!r.listed) continue;
        uint32_t v = ~0u;
        ASSERT_TRUE(DebugGetRegister(r.name, v)) << r.name;
        EXPECT_EQ(v, written[i++]) << r.name;
    }
    const struct {
        const char *half, *pair;
        int shift;
    } halves[] = {{"A", "AF", 8}, {"F", "AF", 0}, {"B", "BC", 8}, {"C", "BC", 0},
                  {"D", "DE", 8}, {"E", "DE", 0}, {"H", "HL", 8}, {"L", "HL", 0}};
    for (const auto& h : halves) {
        uint32_t half = 0, pair = 0;
        ASSERT_TRUE(DebugGetRegister(h.half, half) && DebugGetRegister(h.pair, pair));
        EXPECT_EQ(half, (pair >> h.shift) & 0xFF) << h.half;
    }
    for (const RegisterEntry& r : RegisterTable()) {
        EXPECT_EQ(FindRegister(RegisterFieldName(r)), &r) << r.name;
        EXPECT_FALSE(DebugSetRegister(r.name, RegisterMax(r.width) + 1)) << r.name;
    }
    EXPECT_EQ(FindRegister("hL'"), FindRegister("HL_"));
    for (const char* unknown : {"", "Q", "HL__", "AF''", "_", "IFF"})
        EXPECT_EQ(FindRegister(unknown), nullptr) << unknown;
    ResetMachineForTest(); // HALTED may have been set
}
