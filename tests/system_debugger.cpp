// The debugger on a small program, run deterministically tick by tick as the headless runner does:
// every kind of breakpoint stops once at the right instruction, stepping goes into, over and out of
// calls, and a stop followed by a resume leaves the run as it would have been.
#include "cpu/cpu_state.h"
#include "cpu/bus.h"
#include "display/display.h"
#include "machine/control.h"
#include "system/debugger.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>
#include <fstream>
#include <string>

namespace {

// 0100 LD SP,0xF000 / LD HL,0x9000 / LD DE,0xA000 / LD BC,4 / LDIR / CALL 0x0200 / LD A,7 /
// OUT (0x10),A / IN A,(0x11) / LD (0xB000),A / JR $ ; 0200 INC A / CALL 0x0300 / RET ;
// 0300 NOP / RET ; the NMI returns at once.
void LoadProgram() {
    ResetMachineForTest();
    LoadCode(0x0066, {0xED, 0x45});
    LoadCode(0x0200, {0x3C, 0xCD, 0x00, 0x03, 0xC9});
    LoadCode(0x0300, {0x00, 0xC9});
    LoadCode(0x9000, {1, 2, 3, 4});
    LoadCode(0x0100,
             {0x31, 0x00, 0xF0, 0x21, 0x00, 0x90, 0x11, 0x00, 0xA0, 0x01, 0x04, 0x00, 0xED, 0xB0,
              0xCD, 0x00, 0x02, 0x3E, 0x07, 0xD3, 0x10, 0xDB, 0x11, 0x32, 0x00, 0xB0, 0x18, 0xFE});
    WriteInPort(0x11, 0x5A);
    DebugAttach();
}

// Runs ticks until the debugger stops the machine; false when it did not within max_ticks.
bool RunUntilStop(int max_ticks = 50) {
    const uint64_t serial = DebugStopSerial();
    for (int i = 0; i < max_ticks && DebugStopSerial() == serial; ++i)
        if (!SystemRunTick(500)) return false;
    return DebugStopSerial() != serial;
}

class Debugger : public ::testing::Test {
  protected:
    void SetUp() override { LoadProgram(); }
    void TearDown() override { DebugDetach(); }
};

Breakpoint Make(BreakKind kind, uint16_t address, uint32_t length = 1) {
    Breakpoint b;
    b.kind = kind;
    b.address = address;
    b.length = length;
    return b;
}

} // namespace

TEST_F(Debugger, EachKindStopsOnceAtTheRightInstruction) {
    struct Case {
        const char* what;
        Breakpoint b;
        StopReason reason;
        uint16_t pc;      // where the machine stands
        uint16_t address; // the byte or port that fired
        uint8_t value;
    };
    Breakpoint conditional = Make(BreakKind::Execute, 0x0113);
    conditional.condition = {true, false, "a", 0, CompareOp::Equal, 7};
    Breakpoint on_memory = Make(BreakKind::Execute, 0x0200); // reached once LDIR copied 4 bytes
    on_memory.condition = {true, true, "", 0xA003, CompareOp::GreaterEqual, 4};
    const Case cases[] = {
        {"exec", Make(BreakKind::Execute, 0x0111), StopReason::Breakpoint, 0x0111, 0, 0},
        {"exec if A==7", conditional, StopReason::Breakpoint, 0x0113, 0, 0},
        {"exec if (0xA003)>=4", on_memory, StopReason::Breakpoint, 0x0200, 0, 0},
        {"write", Make(BreakKind::Write, 0xA002), StopReason::Watch, 0x010E, 0xA002, 3},
        {"read range", Make(BreakKind::Read, 0x8FFF, 3), StopReason::Watch, 0x010E, 0x9000, 1},
        {"access", Make(BreakKind::Access, 0xB000), StopReason::Watch, 0x011A, 0xB000, 0x5A},
        {"out", Make(BreakKind::PortOut, 0x10), StopReason::Io, 0x0115, 0x10, 7},
        {"in", Make(BreakKind::PortIn, 0x11), StopReason::Io, 0x0117, 0x11, 0x5A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoadProgram();
        const int id = DebugAddBreakpoint(c.b);
        ASSERT_GT(id, 0);
        ASSERT_TRUE(RunUntilStop());
        StopInfo info;
        ASSERT_TRUE(DebugStanding(&info));
        EXPECT_EQ(info.reason, c.reason);
        EXPECT_EQ(info.id, id);
        EXPECT_EQ(info.pc, c.pc);
        if (c.reason == StopReason::Watch || c.reason == StopReason::Io) {
            EXPECT_EQ(info.address, c.address);
            EXPECT_EQ(info.value, c.value);
        }
        // Resumed, the program reaches its endless loop without another stop.
        ASSERT_TRUE(DebugContinue());
        EXPECT_FALSE(RunUntilStop(5));
        EXPECT_EQ(ReadMemoryShared(0xB000), 0x5A); // the run went on to its end
        ASSERT_EQ(DebugBreakpoints().size(), 1u);
        EXPECT_EQ(DebugBreakpoints()[0].hits, 1u);
        DebugDetach();
    }
}

TEST_F(Debugger, WhatDoesNotHoldNeverStops) {
    Breakpoint never = Make(BreakKind::Execute, 0x0113);
    never.condition = {true, false, "A", 0, CompareOp::Equal, 8};
    ASSERT_GT(DebugAddBreakpoint(never), 0);
    Breakpoint off = Make(BreakKind::Execute, 0x0111);
    off.enabled = false;
    ASSERT_GT(DebugAddBreakpoint(off), 0);
    ASSERT_GT(DebugAddBreakpoint(Make(BreakKind::Read, 0x0112)), 0); // LD A,7's own operand
    EXPECT_FALSE(RunUntilStop(5));
    EXPECT_EQ(ReadMemoryShared(0xB000), 0x5A);
}

// The NMI of every tick and a maskable interrupt (mode 1, a key request) stop the machine before
// the first instruction of their handlers, each time they are taken.
TEST_F(Debugger, InterruptsStopAtTheirEntry) {
    LoadCode(0x0038, {0xFB, 0xC9});                   // EI / RET
    LoadCode(0x011A, {0xED, 0x56, 0xFB, 0x18, 0xFE}); // IM 1 / EI / JR $ in place of the end loop
    CpuState.PC = 0x0100;
    const int nmi = DebugAddBreakpoint(Make(BreakKind::Nmi, 0));
    const int irq = DebugAddBreakpoint(Make(BreakKind::Interrupt, 0));
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(RunUntilStop());
        StopInfo info;
        ASSERT_TRUE(DebugStanding(&info));
        EXPECT_EQ(info.reason, StopReason::Interrupt);
        EXPECT_EQ(info.id, nmi);
        EXPECT_EQ(info.pc, 0x0066);
        ASSERT_TRUE(DebugContinue());
    }
    ASSERT_TRUE(DebugRemoveBreakpoint(nmi));
    ASSERT_FALSE(RunUntilStop(3)); // the loop runs with interrupts on
    SetControlFlags(KEY);
    ASSERT_TRUE(RunUntilStop());
    StopInfo info;
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.id, irq);
    EXPECT_EQ(info.pc, 0x0038);
}

// An interrupt taken as the machine resumes returns to the instruction it stopped at, which has
// not run yet: it runs then without firing again, so the loop goes round once before the next stop.
TEST_F(Debugger, ResumingIntoAnInterruptDoesNotFireTheSameStopAgain) {
    LoadCode(0x0100, {0x31, 0x00, 0xF0, 0x23, 0x18, 0xFD}); // LD SP,0xF000 / INC HL / JR -3
    ASSERT_GT(DebugAddBreakpoint(Make(BreakKind::Execute, 0x0103)), 0);
    for (bool interrupt : {false, true}) {
        ASSERT_TRUE(RunUntilStop());
        const uint16_t hl = CpuState.HL;
        if (interrupt) SetControlFlags(TICK);
        ASSERT_TRUE(DebugContinue());
        ASSERT_TRUE(RunUntilStop());
        StopInfo info;
        ASSERT_TRUE(DebugStanding(&info));
        EXPECT_EQ(info.pc, 0x0103);
        EXPECT_EQ(CpuState.HL, uint16_t(hl + 1)) << (interrupt ? "after an NMI" : "plain");
        ASSERT_TRUE(DebugContinue());
    }
}

// Step over, whether of a plain instruction or of a call, runs an interrupt taken on the way
// through its handler and stops behind the instruction, with the stack as it was.
TEST_F(Debugger, StepOverRunsAnInterruptThrough) {
    // Both handlers count their runs at 0xB100: PUSH AF / LD A,(0xB100) / INC A / LD (0xB100),A /
    // POP AF, then RETN for the NMI and EI / RET for the mode 1 interrupt.
    LoadCode(0x0066, {0xF5, 0x3A, 0x00, 0xB1, 0x3C, 0x32, 0x00, 0xB1, 0xF1, 0xED, 0x45});
    LoadCode(0x0038, {0xF5, 0x3A, 0x00, 0xB1, 0x3C, 0x32, 0x00, 0xB1, 0xF1, 0xFB, 0xC9});
    // 0400 IM 1 / EI / NOP / CALL 0x0300 / NOP / JR $
    LoadCode(0x0400, {0xED, 0x56, 0xFB, 0x00, 0xCD, 0x00, 0x03, 0x00, 0x18, 0xFE});
    CpuState.SP = 0xF000;
    const int at = DebugAddBreakpoint(Make(BreakKind::Execute, 0x0403));
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugRemoveBreakpoint(at));
    const struct {
        const char* what;
        uint16_t pc, behind;
        uint32_t flag;
    } cases[] = {
        {"NOP, the tick's NMI", 0x0403, 0x0404, TICK},
        {"NOP, a key's interrupt", 0x0403, 0x0404, KEY},
        {"CALL, the tick's NMI", 0x0404, 0x0407, TICK},
        {"CALL, a key's interrupt", 0x0404, 0x0407, KEY},
        {"NOP, no interrupt", 0x0403, 0x0404, 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(DebugSetRegister("PC", c.pc));
        const uint8_t runs = ReadMemoryShared(0xB100);
        if (c.flag) SetControlFlags(c.flag);
        ASSERT_TRUE(DebugStepOver()) << c.what;
        ASSERT_TRUE(RunUntilStop()) << c.what;
        DebugRegisters r;
        ASSERT_TRUE(DebugReadRegisters(r));
        EXPECT_EQ(r.pc, c.behind) << c.what;
        EXPECT_EQ(r.sp, 0xF000) << c.what;
        EXPECT_EQ(ReadMemoryShared(0xB100), uint8_t(runs + (c.flag ? 1 : 0))) << c.what;
    }
}

// A byte written into screen memory while the machine stands still reaches the picture at once,
// without waiting for the machine to draw its next frame.
TEST_F(Debugger, ScreenEditsShowAtOnce) {
    // A glyph with a lit top row and a blank one, whatever font an earlier test loaded.
    const uint8_t font_a = GlyphTable[0]['A'], font_blank = GlyphTable[0][' '];
    GlyphTable[0]['A'] = 0xFC;
    GlyphTable[0][' '] = 0;
    uint8_t frame[FrameLines][FrameLineBytes];
    SystemTakeFrame(frame);
    const uint8_t a = 'A';
    ASSERT_TRUE(DebugWriteMemory(RowAddressTable[0], &a, 1));
    ASSERT_TRUE(SystemTakeFrame(frame));
    EXPECT_EQ(frame[0][0] & 0xFC, 0xFC);
    const uint8_t blank = ' ';
    ASSERT_TRUE(DebugWriteMemory(RowAddressTable[0], &blank, 1));
    ASSERT_TRUE(SystemTakeFrame(frame));
    EXPECT_EQ(frame[0][0] & 0xFC, 0);
    GlyphTable[0]['A'] = font_a;
    GlyphTable[0][' '] = font_blank;
}

TEST_F(Debugger, StepIntoOverAndOut) {
    ScratchFolder folder;
    ASSERT_TRUE(DebugTraceTo(folder.path() + "/trace.txt"));
    ASSERT_TRUE(DebugStep(3));
    ASSERT_TRUE(RunUntilStop());
    DebugRegisters r;
    ASSERT_TRUE(DebugReadRegisters(r));
    EXPECT_EQ(r.pc, 0x0109);

    ASSERT_TRUE(DebugStep());
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugStepOver()); // LDIR, whole
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugReadRegisters(r));
    EXPECT_EQ(r.pc, 0x010E);
    EXPECT_EQ(ReadMemoryShared(0xA003), 4);

    ASSERT_TRUE(DebugStepOver()); // CALL 0x0200, which calls 0x0300 in turn
    ASSERT_TRUE(RunUntilStop());
    StopInfo info;
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.reason, StopReason::StepOver);
    ASSERT_TRUE(DebugReadRegisters(r));
    EXPECT_EQ(r.pc, 0x0111);
    EXPECT_EQ(r.sp, 0xF000);
    EXPECT_EQ(r.af >> 8, 1); // INC A ran

    // Back to the CALL, into it, and out again past the nested call.
    ASSERT_TRUE(DebugSetRegister("PC", 0x010E));
    ASSERT_TRUE(DebugStep());
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugReadRegisters(r));
    EXPECT_EQ(r.pc, 0x0200);
    ASSERT_TRUE(DebugStepOut());
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.reason, StopReason::StepOut);
    EXPECT_EQ(info.pc, 0x0111);

    ASSERT_TRUE(DebugRunTo(0x0117));
    ASSERT_TRUE(RunUntilStop());
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.reason, StopReason::RunTo);
    EXPECT_EQ(info.pc, 0x0117);
    const auto history = DebugPcHistory();
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history[history.size() - 1], 0x0115);
    EXPECT_EQ(history[history.size() - 2], 0x0113);
    ASSERT_TRUE(DebugTraceTo(""));
    const std::string trace = folder.ReadFile("trace.txt");
    EXPECT_EQ(trace.find("0x0100  31 00 F0     LD SP,0xF000\n"), 0u) << trace;
    EXPECT_NE(trace.find("0x010C  ED B0        LDIR\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("0x0300  00           NOP\n"), std::string::npos) << trace;
}

// A stop in the middle of a tick and a resume: the same instructions and ticks as a run without.
TEST_F(Debugger, StopAndResumeLeaveTheRunExact) {
    DebugDetach();
    auto run = [](bool stop) {
        ResetMachineForTest();
        SystemRunTick(1); // finishes a tick an earlier test's stop left cut short
        ResetMachineForTest();
        // A counter in HL, stored at every NMI into 0x9000: where ticks fall shows in memory.
        LoadCode(0x0066, {0x22, 0x00, 0x90, 0xED, 0x45});
        LoadCode(0x0100, {0x31, 0x00, 0xF0, 0x23, 0x18, 0xFD});
        DebugAttach();
        if (stop) DebugAddBreakpoint(Make(BreakKind::Execute, 0x0103));
        int stops = 0;
        for (int tick = 0; tick < 20; ++tick) {
            const uint64_t serial = DebugStopSerial();
            SystemRunTick(1000);
            if (DebugStopSerial() == serial) continue;
            if (++stops == 4) DebugClearBreakpoints();
            DebugContinue();
            tick--; // the cut tick is finished by the next call
        }
        EXPECT_EQ(stops, stop ? 4 : 0);
        const uint16_t hl = CpuState.HL;
        DebugDetach();
        return std::pair(hl, ReadMemoryShared(0x9000) | ReadMemoryShared(0x9001) << 8);
    };
    EXPECT_EQ(run(false), run(true));
}

TEST_F(Debugger, RegistersMemoryAndBadInput) {
    EXPECT_TRUE(DebugSetRegister("hl'", 0x1234));
    EXPECT_TRUE(DebugSetRegister("IM", 2));
    EXPECT_FALSE(DebugSetRegister("IM", 3));
    EXPECT_FALSE(DebugSetRegister("A", 0x100));
    EXPECT_FALSE(DebugSetRegister("Q", 1));
    DebugRegisters r;
    ASSERT_TRUE(DebugReadRegisters(r));
    EXPECT_EQ(r.hl_, 0x1234);
    EXPECT_EQ(r.im, 2);
    const uint8_t bytes[] = {0xAA, 0xBB};
    ASSERT_TRUE(DebugWriteMemory(0xFFFF, bytes, 2));
    uint8_t back[2];
    DebugReadMemory(0xFFFF, back, 2);
    EXPECT_EQ(back[0], 0xAA);
    EXPECT_EQ(back[1], 0xBB);

    std::string error;
    EXPECT_EQ(DebugAddBreakpoint(Make(BreakKind::PortIn, 256), &error), 0);
    EXPECT_EQ(DebugAddBreakpoint(Make(BreakKind::Read, 0, 0), &error), 0);
    Breakpoint bad = Make(BreakKind::Execute, 0);
    bad.condition = {true, false, "XYZ", 0, CompareOp::Equal, 0};
    EXPECT_EQ(DebugAddBreakpoint(bad, &error), 0);
    size_t added = 0;
    while (DebugAddBreakpoint(Make(BreakKind::Execute, uint16_t(0x4000 + added))) && added < 5000)
        ++added;
    EXPECT_EQ(added, MaxBreakpoints);
    EXPECT_FALSE(RunUntilStop(5)); // a full list of breakpoints never reached: the program runs on
    EXPECT_EQ(ReadMemoryShared(0xB000), 0x5A);
    DebugClearBreakpoints();
    EXPECT_TRUE(DebugBreakpoints().empty());
}

TEST(DebuggerSymbols, LoadsBothFormsAndCountsGarbage) {
    ScratchFolder folder;
    folder.WriteFile("user.sym", "; comment\n"
                                 "start = 0x0100\n"
                                 "LOOP EQU 011AH\n"
                                 "table equ $9000\n"
                                 "count = 4660\n"
                                 "\n"
                                 "this is not a symbol\n"
                                 "bad = 0x10000\n"
                                 "=0x12\n"
                                 "start = 0x0101 ; loaded again: the new address\n");
    DebugClearSymbols();
    SymbolLoadReport report;
    ASSERT_TRUE(DebugLoadSymbols(folder.path() + "/user.sym", &report));
    EXPECT_EQ(report.loaded, 5u);
    EXPECT_EQ(report.skipped, 3u);
    EXPECT_EQ(DebugSymbolCount(), 4u);
    uint16_t a = 0;
    ASSERT_TRUE(DebugSymbolAddress("LOOP", a));
    EXPECT_EQ(a, 0x011A);
    ASSERT_TRUE(DebugSymbolAddress("start", a));
    EXPECT_EQ(a, 0x0101);
    ASSERT_TRUE(DebugSymbolAddress("count", a));
    EXPECT_EQ(a, 0x1234);
    EXPECT_EQ(DebugSymbolAt(0x9000), "table");
    EXPECT_EQ(DebugSymbolize(0x9005), "table+0x05");
    EXPECT_EQ(DebugSymbolize(0x00FF), "");
    for (const std::string& bad :
         std::vector<std::string>{folder.path() + "/missing.sym", folder.path(), "/dev/zero"}) {
        EXPECT_FALSE(DebugLoadSymbols(bad, &report)) << bad;
        EXPECT_FALSE(report.error.empty()) << bad;
    }
    DebugClearSymbols();
}

namespace {
// Waits (with a generous limit) until cond holds.
template <typename Cond> bool WaitFor(Cond cond) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
} // namespace

// With the machine's threads: a breakpoint set while it runs stops the ProcessorThread at the
// instruction; registers are read and written while it stands; step and continue resume it.
TEST(DebuggerThread, StopsTheRunningMachineAndResumes) {
    LoadProgram();
    LoadCode(0x011A, {0x3C, 0x18, 0xFD}); // an endless INC A loop at the end
    CpuState.PC = 0x0100;
    SystemStart(nullptr, nullptr);
    ASSERT_TRUE(WaitFor([] { return ReadMemoryShared(0xB000) == 0x5A; }));
    const uint64_t serial = DebugStopSerial();
    const int id = DebugAddBreakpoint(Make(BreakKind::Execute, 0x011B));
    ASSERT_TRUE(WaitFor([&] { return DebugStopSerial() != serial && DebugStanding(); }));
    StopInfo info;
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.id, id);
    EXPECT_EQ(info.pc, 0x011B);
    EXPECT_TRUE(DebugSetRegister("A", 0x40));
    const uint64_t before_step = DebugStopSerial();
    ASSERT_TRUE(DebugStep(2)); // JR, INC A
    ASSERT_TRUE(WaitFor([&] { return DebugStopSerial() != before_step && DebugStanding(); }));
    uint32_t a = 0;
    ASSERT_TRUE(DebugGetRegister("A", a));
    EXPECT_EQ(a, 0x41u);
    ASSERT_TRUE(DebugRemoveBreakpoint(id));
    ASSERT_TRUE(DebugContinue());
    ASSERT_TRUE(WaitFor([] { return !DebugStanding(); }));
    DebugPause();
    ASSERT_TRUE(WaitFor([] { return DebugStanding(); }));
    ASSERT_TRUE(DebugStanding(&info));
    EXPECT_EQ(info.reason, StopReason::Pause);
    // Run freely, the loop kept the history itself: INC A and JR (and the NMI's RETN now and then).
    const auto history = DebugPcHistory();
    EXPECT_EQ(history.size(), PcHistorySize);
    int in_loop = 0;
    for (const uint16_t pc : history) {
        EXPECT_TRUE(pc == 0x011A || pc == 0x011B || pc == 0x0066) << std::hex << pc;
        in_loop += pc != 0x0066;
    }
    EXPECT_GE(in_loop, int(PcHistorySize) - 4);
    DebugDetach();
    SystemStop();
    SystemPause(false);
}
