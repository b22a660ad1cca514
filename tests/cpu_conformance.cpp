// Conformance of the processor with the machine's instruction rules, written apart from the
// instruction tables. Expected flags are worked out in plain arithmetic from what each flag means
// (carry: the sum passes 0xFF; overflow: the signed result leaves -128..127; half carry: the low
// digits pass 0xF), never through the processor's own flag tables. The sets of executed and
// stalled prefixed opcodes are written out as lists, checked against each other, and every opcode
// is run through the first-byte dispatch.
#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint8_t fS = FLAG_S, fZ = FLAG_Z, fH = FLAG_H, fPV = FLAG_PV, fN = FLAG_N, fC = FLAG_C;
constexpr uint8_t fYX = FLAG_Y | FLAG_X;

uint8_t SignZero(uint8_t v) { return uint8_t((v & 0x80 ? fS : 0) | (v == 0 ? fZ : 0)); }
uint8_t EvenParity(uint8_t v) { return std::popcount(v) % 2 == 0 ? fPV : 0; }

struct Result {
    uint8_t value, f;
};

Result RefAdd(uint8_t a, uint8_t b, int c, uint8_t f_in) {
    int sum = a + b + c, signed_sum = int8_t(a) + int8_t(b) + c;
    uint8_t v = uint8_t(sum), f = uint8_t((f_in & fYX) | SignZero(v));
    if ((a & 15) + (b & 15) + c > 15) f |= fH;
    if (signed_sum < -128 || signed_sum > 127) f |= fPV;
    if (sum > 0xFF) f |= fC;
    return {v, f};
}
Result RefSub(uint8_t a, uint8_t b, int c, uint8_t f_in) {
    int diff = a - b - c, signed_diff = int8_t(a) - int8_t(b) - c;
    uint8_t v = uint8_t(diff), f = uint8_t((f_in & fYX) | SignZero(v) | fN);
    if ((a & 15) < (b & 15) + c) f |= fH;
    if (signed_diff < -128 || signed_diff > 127) f |= fPV;
    if (diff < 0) f |= fC;
    return {v, f};
}
Result RefLogic(uint8_t v, bool with_h, uint8_t f_in) {
    return {v, uint8_t((f_in & fYX) | SignZero(v) | EvenParity(v) | (with_h ? fH : 0))};
}
// The eight accumulator operations in the order of bits 5-3: ADD ADC SUB SBC AND XOR OR CP.
Result RefAlu(int op, uint8_t a, uint8_t b, uint8_t f_in) {
    int c = f_in & fC;
    switch (op) {
    case 0: return RefAdd(a, b, 0, f_in);
    case 1: return RefAdd(a, b, c, f_in);
    case 2: return RefSub(a, b, 0, f_in);
    case 3: return RefSub(a, b, c, f_in);
    case 4: return RefLogic(a & b, true, f_in);
    case 5: return RefLogic(a ^ b, false, f_in);
    case 6: return RefLogic(a | b, false, f_in);
    default: return {a, RefSub(a, b, 0, f_in).f};
    }
}

// The CB rotates and shifts by bits 5-3 of the opcode (6 is not an instruction).
Result RefShift(int op, uint8_t v, uint8_t f_in) {
    int c = f_in & fC, out = 0;
    uint8_t r = 0;
    switch (op) {
    case 0: r = uint8_t(v << 1 | v >> 7), out = v >> 7; break;
    case 1: r = uint8_t(v >> 1 | v << 7), out = v & 1; break;
    case 2: r = uint8_t(v << 1 | c), out = v >> 7; break;
    case 3: r = uint8_t(v >> 1 | c << 7), out = v & 1; break;
    case 4: r = uint8_t(v << 1), out = v >> 7; break;
    case 5: r = uint8_t(v >> 1 | (v & 0x80)), out = v & 1; break;
    case 7: r = uint8_t(v >> 1), out = v & 1; break;
    }
    return {r, uint8_t((f_in & fYX) | SignZero(r) | EvenParity(r) | out)};
}
uint8_t RefBit(int b, uint8_t v, uint8_t f_in) {
    return uint8_t((f_in & (fC | fYX)) | fH | ((v >> b) & 1 ? 0 : fZ));
}

// A flag byte that varies with the operands, so every bit of the old F is seen set and clear.
uint8_t MixedFlags(unsigned a, unsigned b) { return uint8_t((a * 37 + b * 11) >> 1 ^ a); }

// Stores bytes from address on, wrapping at 0xFFFF.
void Put(uint16_t address, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes)
        MachineMemory[address++] = b;
}

// Counts disagreements and keeps the first one's description.
struct Mismatches {
    int count = 0;
    std::string first;
    void Note(bool ok, const char* format, auto... args) {
        if (ok || count++) return;
        char text[200];
        std::snprintf(text, sizeof text, format, args...);
        first = text;
    }
};
#define EXPECT_AGREES(m) EXPECT_EQ((m).count, 0) << (m).first

class Conformance : public ::testing::Test {
  protected:
    void SetUp() override { ResetMachineForTest(); }
    static void Run(uint16_t at) {
        CpuState.PC = at;
        ExecuteInstruction();
    }
};

// ---- Flag rules ----

TEST_F(Conformance, AccumulatorOperationsOnEveryPairWithCarryInAndOut) {
    Mismatches m;
    for (int op = 0; op < 8; ++op) {
        MachineMemory[0x8000] = uint8_t(0x80 | op << 3); // op A,B
        for (int a = 0; a < 256; ++a)
            for (int b = 0; b < 256; ++b)
                for (int c = 0; c < 2; ++c) {
                    uint8_t f_in = uint8_t((MixedFlags(a, b) & ~fC) | c);
                    CpuState.A = uint8_t(a), CpuState.B = uint8_t(b), CpuState.F = f_in;
                    Run(0x8000);
                    Result want = RefAlu(op, uint8_t(a), uint8_t(b), f_in);
                    m.Note(CpuState.A == want.value && CpuState.F == want.f && CpuState.B == b,
                           "op %d A=%02X B=%02X F=%02X: got A=%02X F=%02X, want A=%02X F=%02X", op,
                           a, b, f_in, CpuState.A, CpuState.F, want.value, want.f);
                }
    }
    EXPECT_AGREES(m);
}

// Each operand form of the eight operations: B..A and (HL), the immediate byte and (IX+d), (IY+d).
TEST_F(Conformance, AccumulatorOperationsThroughEveryOperandForm) {
    Mismatches m;
    for (int op = 0; op < 8; ++op)
        for (int form = 0; form < 11; ++form)
            for (int a = 0; a < 256; a += 7)
                for (int b = 0; b < 256; b += 5) {
                    auto& s = CpuState;
                    s.BC = 0x1122, s.DE = 0x3344, s.HL = 0x9000, s.IX = 0xA010, s.IY = 0xB0F0;
                    uint8_t f_in = MixedFlags(a, b);
                    uint8_t operand = uint8_t(b);
                    if (form < 8) {
                        MachineMemory[0x8000] = uint8_t(0x80 | op << 3 | form);
                        if (form == 6)
                            MachineMemory[0x9000] = operand;
                        else if (form == 7)
                            operand = uint8_t(a);
                        else {
                            uint8_t* regs[] = {&s.B, &s.C, &s.D, &s.E, &s.H, &s.L};
                            *regs[form] = operand;
                        }
                    } else if (form == 8) {
                        Put(0x8000, {uint8_t(0xC6 | op << 3), operand});
                    } else { // (IX-16) and (IY-112)
                        bool iy = form == 10;
                        Put(0x8000, {uint8_t(iy ? 0xFD : 0xDD), uint8_t(0x86 | op << 3),
                                     uint8_t(iy ? 0x90 : 0xF0)});
                        MachineMemory[iy ? 0xB080 : 0xA000] = operand;
                    }
                    s.A = uint8_t(a), s.F = f_in;
                    Result want = RefAlu(op, uint8_t(a), operand, f_in);
                    uint16_t next = form < 8 ? 0x8001 : form == 8 ? 0x8002 : 0x8003;
                    Run(0x8000);
                    m.Note(s.A == want.value && s.F == want.f && s.PC == next,
                           "op %d form %d A=%02X b=%02X: got A=%02X F=%02X PC=%04X, want %02X %02X",
                           op, form, a, operand, s.A, s.F, s.PC, want.value, want.f);
                }
    EXPECT_AGREES(m);
}

// INC and DEC judged from the old value: half carry out of bit 3 when the low digit was 0xF (INC)
// or a borrow into it when it was 0 (DEC); overflow only from 0x7F up or from 0x80 down.
TEST_F(Conformance, IncrementAndDecrementOfEveryValueAndOperand) {
    struct Form {
        std::vector<uint8_t> code;
        bool inc;
        uint8_t* target;
    };
    auto& s = CpuState;
    const Form forms[] = {
        {{0x04}, true, &s.B},
        {{0x0C}, true, &s.C},
        {{0x14}, true, &s.D},
        {{0x1C}, true, &s.E},
        {{0x24}, true, &s.H},
        {{0x2C}, true, &s.L},
        {{0x3C}, true, &s.A},
        {{0x05}, false, &s.B},
        {{0x0D}, false, &s.C},
        {{0x15}, false, &s.D},
        {{0x1D}, false, &s.E},
        {{0x25}, false, &s.H},
        {{0x2D}, false, &s.L},
        {{0x3D}, false, &s.A},
        {{0x34}, true, nullptr},
        {{0x35}, false, nullptr},
        {{0xDD, 0x34, 0x80}, true, &MachineMemory[0xFF80]},
        {{0xFD, 0x35, 0x7F}, false, &MachineMemory[0x007F]},
    };
    Mismatches m;
    for (const Form& form : forms) {
        Put(0x8000, form.code);
        for (int old = 0; old < 256; ++old)
            for (int f_in = 0; f_in < 256; f_in += (form.target == &s.B ? 1 : 17)) {
                s.HL = 0x9000, s.IX = 0x0000, s.IY = 0x0000;
                uint8_t* target = form.target ? form.target : &MachineMemory[0x9000];
                *target = uint8_t(old);
                s.F = uint8_t(f_in);
                Run(0x8000);
                uint8_t v = uint8_t(form.inc ? old + 1 : old - 1);
                uint8_t f = uint8_t((f_in & (fC | fYX)) | SignZero(v));
                if (form.inc)
                    f |= ((old & 15) == 15 ? fH : 0) | (old == 0x7F ? fPV : 0);
                else
                    f |= fN | ((old & 15) == 0 ? fH : 0) | (old == 0x80 ? fPV : 0);
                m.Note(*target == v && s.F == f && s.PC == 0x8000 + form.code.size(),
                       "%02X %02X from %02X F=%02X: got %02X F=%02X PC=%04X, want %02X F=%02X",
                       form.code[0], form.code.back(), old, f_in, *target, s.F, s.PC, v, f);
            }
    }
    EXPECT_AGREES(m);
}

// DAA: the correction table written out row by row; the chosen k is added as ADD A,k would add
// it, then P/V is parity, N the old N and C the row's carry.
TEST_F(Conformance, DecimalAdjustOfEveryAccumulatorAndFlagCombination) {
    struct Row {
        int n, c, h, lo_min, lo_max, hi_min, hi_max;
        uint8_t k;
        int carry;
    };
    const Row table[] = {
        {0, 0, 0, 0, 9, 0, 9, 0x00, 0},   {0, 0, 0, 0, 9, 10, 15, 0x60, 1},
        {0, 0, 0, 10, 15, 0, 8, 0x06, 0}, {0, 0, 0, 10, 15, 9, 15, 0x66, 1},
        {0, 0, 1, 0, 15, 0, 9, 0x06, 0},  {0, 0, 1, 0, 15, 10, 15, 0x66, 1},
        {0, 1, 0, 0, 9, 0, 15, 0x60, 1},  {0, 1, 0, 10, 15, 0, 15, 0x66, 1},
        {0, 1, 1, 0, 15, 0, 15, 0x66, 1}, {1, 0, 0, 0, 15, 0, 15, 0x00, 0},
        {1, 0, 1, 0, 15, 0, 15, 0xFA, 0}, {1, 1, 0, 0, 15, 0, 15, 0xA0, 1},
        {1, 1, 1, 0, 15, 0, 15, 0x9A, 1},
    };
    MachineMemory[0x8000] = 0x27;
    Mismatches m;
    for (int a = 0; a < 256; ++a)
        for (int nch = 0; nch < 8; ++nch)
            for (uint8_t other : {0x00, 0x28, 0xCC, 0xE4}) {
                int n = nch >> 2, c = nch >> 1 & 1, h = nch & 1, lo = a & 15, hi = a >> 4;
                uint8_t f_in =
                    uint8_t((other & ~(fN | fC | fH)) | (n ? fN : 0) | (c ? fC : 0) | (h ? fH : 0));
                int matches = 0;
                const Row* row = nullptr;
                for (const Row& r : table)
                    if (r.n == n && r.c == c && r.h == h && lo >= r.lo_min && lo <= r.lo_max &&
                        hi >= r.hi_min && hi <= r.hi_max && matches++ == 0)
                        row = &r;
                ASSERT_EQ(matches, 1) << "the correction table must choose one row";
                uint8_t v = uint8_t(a + row->k);
                uint8_t f = uint8_t((f_in & fYX) | SignZero(v) | EvenParity(v) | (n ? fN : 0) |
                                    row->carry | (lo + (row->k & 15) > 15 ? fH : 0));
                CpuState.A = uint8_t(a), CpuState.F = f_in;
                Run(0x8000);
                m.Note(CpuState.A == v && CpuState.F == f,
                       "DAA A=%02X F=%02X: got A=%02X F=%02X, want A=%02X F=%02X", a, f_in,
                       CpuState.A, CpuState.F, v, f);
            }
    EXPECT_AGREES(m);
    // Worked cases: 15+27, 42-15, and 9A with no flags.
    const std::pair<uint16_t, uint16_t> cases[] = {
        {0x3C00, 0x4214}, {0x2D12, 0x2716}, {0x9A00, 0x0055}};
    for (auto [before, after] : cases) {
        CpuState.AF = before;
        Run(0x8000);
        EXPECT_EQ(CpuState.AF, after) << std::hex << "DAA from AF=" << before;
    }
}

TEST_F(Conformance, AccumulatorRotatesAndFlagInstructionsOnEveryAAndF) {
    Mismatches m;
    for (uint8_t op : {0x07, 0x0F, 0x17, 0x1F, 0x2F, 0x37, 0x3F}) {
        MachineMemory[0x8000] = op;
        for (int a = 0; a < 256; ++a)
            for (int f_in = 0; f_in < 256; ++f_in) {
                int c = f_in & fC;
                uint8_t keep = uint8_t(f_in & (fS | fZ | fPV | fYX)), v = uint8_t(a), f = 0;
                switch (op) {
                case 0x07: v = uint8_t(a << 1 | a >> 7), f = uint8_t(keep | a >> 7); break;
                case 0x0F: v = uint8_t(a >> 1 | a << 7), f = uint8_t(keep | (a & 1)); break;
                case 0x17: v = uint8_t(a << 1 | c), f = uint8_t(keep | a >> 7); break;
                case 0x1F: v = uint8_t(a >> 1 | c << 7), f = uint8_t(keep | (a & 1)); break;
                case 0x2F: v = uint8_t(~a), f = uint8_t(f_in | fH | fN); break; // CPL
                case 0x37: f = uint8_t(keep | fC); break;                       // SCF
                case 0x3F: f = uint8_t(keep | (f_in & fH) | (c ^ 1)); break;    // CCF keeps H
                }
                CpuState.A = uint8_t(a), CpuState.F = uint8_t(f_in);
                Run(0x8000);
                m.Note(CpuState.A == v && CpuState.F == f,
                       "%02X A=%02X F=%02X: got A=%02X F=%02X, want A=%02X F=%02X", op, a, f_in,
                       CpuState.A, CpuState.F, v, f);
            }
    }
    EXPECT_AGREES(m);
}

// Edge words and a spread of others for the 16-bit rules.
std::vector<uint16_t> SampleWords() {
    std::vector<uint16_t> w = {0x0000, 0x0001, 0x0002, 0x007F, 0x0080, 0x00FF, 0x0100,
                               0x07FF, 0x0800, 0x0FFF, 0x1000, 0x7FFE, 0x7FFF, 0x8000,
                               0x8001, 0xF000, 0xF7FF, 0xFFFE, 0xFFFF};
    uint32_t x = 12345;
    for (int i = 0; i < 45; ++i)
        w.push_back(uint16_t((x = x * 1103515245 + 12345) >> 12));
    return w;
}

// ADD HL/IX/IY,rr keep S, Z and P/V; ADC HL and SBC HL set all six from the 16-bit result.
TEST_F(Conformance, SixteenBitArithmeticOverSampledOperands) {
    enum Kind { Add, Adc, Sbc };
    struct Form {
        std::vector<uint8_t> code;
        Kind kind;
        uint16_t* target;
        uint16_t* source; // nullptr: the target itself
    };
    auto& s = CpuState;
    const Form forms[] = {
        {{0x09}, Add, &s.HL, &s.BC},         {{0x19}, Add, &s.HL, &s.DE},
        {{0x29}, Add, &s.HL, nullptr},       {{0x39}, Add, &s.HL, &s.SP},
        {{0xDD, 0x09}, Add, &s.IX, &s.BC},   {{0xDD, 0x19}, Add, &s.IX, &s.DE},
        {{0xDD, 0x29}, Add, &s.IX, nullptr}, {{0xFD, 0x39}, Add, &s.IY, &s.SP},
        {{0xFD, 0x29}, Add, &s.IY, nullptr}, {{0xED, 0x4A}, Adc, &s.HL, &s.BC},
        {{0xED, 0x5A}, Adc, &s.HL, &s.DE},   {{0xED, 0x6A}, Adc, &s.HL, nullptr},
        {{0xED, 0x7A}, Adc, &s.HL, &s.SP},   {{0xED, 0x42}, Sbc, &s.HL, &s.BC},
        {{0xED, 0x52}, Sbc, &s.HL, &s.DE},   {{0xED, 0x62}, Sbc, &s.HL, nullptr},
        {{0xED, 0x72}, Sbc, &s.HL, &s.SP},
    };
    const std::vector<uint16_t> words = SampleWords();
    Mismatches m;
    for (const Form& form : forms) {
        Put(0x4000, form.code);
        for (uint16_t a : words)
            for (uint16_t b : words)
                for (int c = 0; c < 2; ++c) {
                    if (!form.source && a != b) continue;
                    s.BC = s.DE = s.SP = s.HL = s.IX = s.IY = 0x5555;
                    *form.target = a;
                    if (form.source) *form.source = b;
                    uint8_t f_in = uint8_t((MixedFlags(a, b) & ~fC) | c);
                    s.F = f_in;
                    int cin = form.kind == Add ? 0 : c;
                    int r = form.kind == Sbc ? a - b - cin : a + b + cin;
                    int sr = form.kind == Sbc ? int16_t(a) - int16_t(b) - cin
                                              : int16_t(a) + int16_t(b) + cin;
                    uint16_t v = uint16_t(r);
                    bool half = form.kind == Sbc ? (a & 0xFFF) < (b & 0xFFF) + cin
                                                 : (a & 0xFFF) + (b & 0xFFF) + cin > 0xFFF;
                    uint8_t f = uint8_t((half ? fH : 0) | (r < 0 || r > 0xFFFF ? fC : 0));
                    if (form.kind == Add)
                        f |= f_in & (fS | fZ | fPV | fYX);
                    else
                        f |= (f_in & fYX) | (v & 0x8000 ? fS : 0) | (v == 0 ? fZ : 0) |
                             (sr < -32768 || sr > 32767 ? fPV : 0) | (form.kind == Sbc ? fN : 0);
                    Run(0x4000);
                    m.Note(*form.target == v && s.F == f,
                           "%02X %02X a=%04X b=%04X F=%02X: got %04X F=%02X, want %04X F=%02X",
                           form.code[0], form.code.back(), a, b, f_in, *form.target, s.F, v, f);
                }
    }
    EXPECT_AGREES(m);
}

// CB rotates, shifts, BIT, RES and SET on every operand, and the DD CB / FD CB forms on (XY+d),
// which write only the byte at XY+d and never a register.
TEST_F(Conformance, BitGroupOnEveryOperandAndIndexedForm) {
    auto& s = CpuState;
    Mismatches m;
    // operand codes 0-7 through CB, then 8 = DD CB d, 9 = FD CB d
    for (int group = 0; group < 32; ++group) {
        if (group == 6) continue; // 0x30-0x37: not instructions
        for (int operand = 0; operand < 10; ++operand) {
            int b = group & 7,
                kind = group >> 3; // kind 0 shift (b = operation), 1 BIT, 2 RES, 3 SET
            uint8_t op = uint8_t(group << 3 | (operand < 8 ? operand : 6));
            if (operand < 8)
                Put(0x8000, {0xCB, op});
            else
                Put(0x8000, {uint8_t(operand == 8 ? 0xDD : 0xFD), 0xCB, 0xFE, op});
            for (int v = 0; v < 256; ++v)
                for (int c = 0; c < 2; ++c) {
                    s.BC = 0x1122, s.DE = 0x3344, s.HL = 0x9000, s.A = 0x55;
                    s.IX = 0xA002, s.IY = 0x0001; // XY + (-2): 0xA000 and 0xFFFF
                    uint8_t* target = operand == 8   ? &MachineMemory[0xA000]
                                      : operand == 9 ? &MachineMemory[0xFFFF]
                                                     : nullptr;
                    if (operand == 6) target = &MachineMemory[0x9000];
                    if (!target) {
                        uint8_t* regs[] = {&s.B, &s.C, &s.D, &s.E, &s.H, &s.L, nullptr, &s.A};
                        target = regs[operand];
                    }
                    *target = uint8_t(v);
                    uint8_t f_in = uint8_t((MixedFlags(v, group) & ~fC) | c);
                    s.F = f_in;
                    CpuRegisters before = s;
                    Result want{uint8_t(v), f_in};
                    if (kind == 0)
                        want = RefShift(b, uint8_t(v), f_in);
                    else if (kind == 1)
                        want.f = RefBit(b, uint8_t(v), f_in);
                    else if (kind == 2)
                        want.value = uint8_t(v & ~(1 << b));
                    else
                        want.value = uint8_t(v | 1 << b);
                    Run(0x8000);
                    bool registers_kept = true;
                    if (operand >= 8)
                        registers_kept = s.BC == before.BC && s.DE == before.DE &&
                                         s.HL == before.HL && s.A == before.A &&
                                         s.IX == before.IX && s.IY == before.IY;
                    m.Note(*target == want.value && s.F == want.f && registers_kept &&
                               s.PC == (operand < 8 ? 0x8002 : 0x8004),
                           "op %02X form %d v=%02X F=%02X: got %02X F=%02X PC=%04X, want %02X "
                           "F=%02X",
                           op, operand, v, f_in, *target, s.F, s.PC, want.value, want.f);
                }
        }
    }
    EXPECT_AGREES(m);
}

// ---- ED instructions with flag results ----

TEST_F(Conformance, NegPortInputAndLoadsOfAFromIOverEveryValue) {
    auto& s = CpuState;
    Mismatches m;
    for (int v = 0; v < 256; ++v)
        for (int f_in = 0; f_in < 256; f_in += 5) {
            // NEG: 0 - A by the subtraction rule.
            Put(0x4000, {0xED, 0x44});
            s.A = uint8_t(v), s.F = uint8_t(f_in);
            Run(0x4000);
            Result want = RefSub(0, uint8_t(v), 0, uint8_t(f_in));
            m.Note(s.A == want.value && s.F == want.f, "NEG %02X F=%02X: got %02X F=%02X", v, f_in,
                   s.A, s.F);
            // IN r,(C): S, Z, parity of the value, H = N = 0, C, Y, X kept.
            const uint8_t in_ops[] = {0x40, 0x48, 0x50, 0x58, 0x60, 0x68, 0x78};
            uint8_t* regs[] = {&s.B, &s.C, &s.D, &s.E, &s.H, &s.L, &s.A};
            for (int r = 0; r < 7; ++r) {
                Put(0x4000, {0xED, in_ops[r]});
                s.BC = 0x0042, s.F = uint8_t(f_in);
                WriteInPort(0x42, uint8_t(v));
                Run(0x4000);
                uint8_t f =
                    uint8_t((f_in & (fC | fYX)) | SignZero(uint8_t(v)) | EvenParity(uint8_t(v)));
                m.Note(*regs[r] == v && s.F == f, "IN r%d,(C) value %02X F=%02X: got %02X F=%02X",
                       r, v, f_in, *regs[r], s.F);
            }
            // LD A,I: S and Z from I, P/V = IFF2, H = N = 0, C, Y, X kept.
            for (int iff2 = 0; iff2 < 2; ++iff2) {
                Put(0x4000, {0xED, 0x57});
                s.I = uint8_t(v), s.IFF2 = uint8_t(iff2), s.F = uint8_t(f_in);
                Run(0x4000);
                uint8_t f = uint8_t((f_in & (fC | fYX)) | SignZero(uint8_t(v)) | (iff2 ? fPV : 0));
                m.Note(s.A == v && s.F == f, "LD A,I I=%02X IFF2=%d F=%02X: got F=%02X", v, iff2,
                       f_in, s.F);
            }
        }
    EXPECT_AGREES(m);
}

TEST_F(Conformance, LoadOfAFromRIsSmallAndFlagsFollowIff2) {
    auto& s = CpuState;
    Put(0x4000, {0xED, 0x5F});
    std::set<int> seen;
    Mismatches m;
    for (int i = 0; i < 4000; ++i) {
        uint8_t f_in = uint8_t(i * 29);
        s.F = f_in, s.IFF2 = uint8_t(i & 1);
        Run(0x4000);
        seen.insert(s.A);
        uint8_t f = uint8_t((f_in & (fC | fYX)) | (s.A == 0 ? fZ : 0) | (s.IFF2 ? fPV : 0));
        m.Note(s.A < 128 && s.F == f && s.PC == 0x4002, "LD A,R gave A=%02X F=%02X from F=%02X",
               s.A, s.F, f_in);
    }
    EXPECT_AGREES(m);
    EXPECT_GT(seen.size(), 120u) << "values should spread over 0-127";
}

TEST_F(Conformance, DigitRotatesOverEveryAccumulatorAndByte) {
    auto& s = CpuState;
    Mismatches m;
    for (uint8_t op : {0x67, 0x6F})
        for (int a = 0; a < 256; ++a)
            for (int mem = 0; mem < 256; ++mem) {
                Put(0x4000, {0xED, op});
                s.HL = 0x9000, s.A = uint8_t(a), s.F = MixedFlags(a, mem);
                uint8_t f_in = s.F;
                MachineMemory[0x9000] = uint8_t(mem);
                Run(0x4000);
                uint8_t want_a, want_m;
                if (op == 0x67) // RRD
                    want_a = uint8_t((a & 0xF0) | (mem & 0x0F)),
                    want_m = uint8_t((a & 0x0F) << 4 | mem >> 4);
                else // RLD
                    want_a = uint8_t((a & 0xF0) | mem >> 4),
                    want_m = uint8_t((mem & 0x0F) << 4 | (a & 0x0F));
                uint8_t f = uint8_t((f_in & (fC | fYX)) | SignZero(want_a) | EvenParity(want_a));
                m.Note(s.A == want_a && MachineMemory[0x9000] == want_m && s.F == f,
                       "ED %02X A=%02X (HL)=%02X: got A=%02X (HL)=%02X F=%02X", op, a, mem, s.A,
                       MachineMemory[0x9000], s.F);
            }
    EXPECT_AGREES(m);
}

// One repetition of each block instruction: the compare flags come from CP A,(HL) with C kept
// and P/V = BC not 0; transfers keep S, Z, C; inputs and outputs set Z from B and N, keep the rest.
TEST_F(Conformance, SingleBlockStepsOverEveryOperandAndFlagByte) {
    auto& s = CpuState;
    Mismatches m;
    for (int a = 0; a < 256; ++a)
        for (int mem = 0; mem < 256; ++mem) {
            uint8_t f_in = MixedFlags(a, mem);
            bool down = mem & 1;
            uint16_t bc = uint16_t(mem & 2 ? 1 : 2 + a); // ends at 0 or not
            // CPI / CPD
            Put(0x4000, {0xED, uint8_t(down ? 0xA9 : 0xA1)});
            s.A = uint8_t(a), s.F = f_in, s.HL = 0x9000, s.BC = bc;
            MachineMemory[0x9000] = uint8_t(mem);
            Run(0x4000);
            uint16_t bc_after = uint16_t(bc - 1);
            uint8_t f = uint8_t((RefSub(uint8_t(a), uint8_t(mem), 0, f_in).f & ~(fC | fPV)) |
                                (f_in & fC) | (bc_after ? fPV : 0));
            m.Note(s.A == a && s.F == f && s.BC == bc_after && s.HL == (down ? 0x8FFF : 0x9001),
                   "CPI/CPD A=%02X m=%02X F=%02X BC=%04X: got F=%02X", a, mem, f_in, bc, s.F);
            // LDI / LDD
            Put(0x4000, {0xED, uint8_t(down ? 0xA8 : 0xA0)});
            s.F = f_in, s.HL = 0x9000, s.DE = 0xA000, s.BC = bc;
            Run(0x4000);
            f = uint8_t((f_in & (fS | fZ | fC | fYX)) | (bc_after ? fPV : 0));
            m.Note(s.F == f && MachineMemory[0xA000] == mem && s.BC == bc_after &&
                       s.DE == (down ? 0x9FFF : 0xA001),
                   "LDI/LDD F=%02X BC=%04X: got F=%02X", f_in, bc, s.F);
            // INI / IND / OUTI / OUTD with B = a
            for (uint8_t op : {0xA2, 0xAA, 0xA3, 0xAB}) {
                Put(0x4000, {0xED, op});
                s.F = f_in, s.HL = 0x9000, s.B = uint8_t(a), s.C = 0x21;
                MachineMemory[0x9000] = uint8_t(mem);
                WriteInPort(0x21, uint8_t(~mem));
                Run(0x4000);
                bool out = op & 1;
                uint8_t b_after = uint8_t(a - 1);
                f = uint8_t((f_in & ~fZ) | fN | (b_after ? 0 : fZ));
                bool moved = out ? OutPorts[0x21] == mem : MachineMemory[0x9000] == uint8_t(~mem);
                m.Note(s.F == f && s.B == b_after && moved && s.HL == (op & 8 ? 0x8FFF : 0x9001),
                       "ED %02X B=%02X F=%02X: got F=%02X B=%02X", op, a, f_in, s.F, s.B);
            }
        }
    EXPECT_AGREES(m);
}

// The repeating forms: all counts in one step, and their fixed flag results.
TEST_F(Conformance, RepeatingBlockFlagsAndCounts) {
    auto& s = CpuState;
    for (int f_in = 0; f_in < 256; f_in += 3) {
        SCOPED_TRACE(f_in);
        // LDIR / LDDR with BC = 3: P/V, H, N clear; S, Z, C, Y, X kept.
        for (uint8_t op : {0xB0, 0xB8}) {
            Put(0x4000, {0xED, op});
            s.F = uint8_t(f_in), s.BC = 3, s.HL = 0x9010, s.DE = 0xA010;
            Run(0x4000);
            EXPECT_EQ(s.F, f_in & (fS | fZ | fC | fYX));
            EXPECT_EQ(s.BC, 0);
            EXPECT_EQ(s.HL, op == 0xB0 ? 0x9013 : 0x900D);
            EXPECT_EQ(s.PC, 0x4002);
        }
        // INIR / OTIR with B = 5: Z and N set, all others kept.
        for (uint8_t op : {0xB2, 0xBA, 0xB3, 0xBB}) {
            Put(0x4000, {0xED, op});
            s.F = uint8_t(f_in), s.B = 5, s.C = 0x21, s.HL = 0x9010;
            Run(0x4000);
            EXPECT_EQ(s.F, f_in | fZ | fN);
            EXPECT_EQ(s.B, 0);
            EXPECT_EQ(s.HL, op & 8 ? 0x900B : 0x9015);
        }
        // CPIR finding the byte at the third place: flags of that comparison, C kept.
        Put(0x9000, {0x01, 0x02, 0x33, 0x33});
        Put(0x4000, {0xED, 0xB1});
        s.F = uint8_t(f_in), s.A = 0x33, s.BC = 5, s.HL = 0x9000;
        Run(0x4000);
        EXPECT_EQ(s.F, (f_in & (fC | fYX)) | fZ | fN | fPV);
        EXPECT_EQ(s.HL, 0x9003);
        EXPECT_EQ(s.BC, 2);
    }
}

// ---- Which opcodes run and which stall ----

// The whole machine, to tell a stall (only PC moves back) from an instruction.
struct Snapshot {
    CpuRegisters registers = CpuState;
    std::vector<uint8_t> memory{MachineMemory, MachineMemory + MemorySize};
    std::vector<uint8_t> in{InPorts, InPorts + 256}, out{OutPorts, OutPorts + 256};
    uint32_t flags = ReadControlFlags();
    bool SameExceptPc(uint16_t pc) const {
        CpuRegisters r = registers;
        r.PC = pc;
        return std::memcmp(&r, &CpuState, sizeof r) == 0 && CpuState.PC == pc &&
               std::memcmp(memory.data(), MachineMemory, MemorySize) == 0 &&
               std::memcmp(in.data(), InPorts, 256) == 0 &&
               std::memcmp(out.data(), OutPorts, 256) == 0 && flags == ReadControlFlags();
    }
};

constexpr uint16_t SweepAt = 0x4000;
constexpr uint16_t SweepReturn = 0x1357; // the word at SP, for RET, RETN and RETI

// Distinct values everywhere; code at SweepAt; F as given.
Snapshot SweepRun(const std::vector<uint8_t>& code, uint8_t f) {
    ResetMachineForTest();
    auto& s = CpuState;
    s.AF = uint16_t(0x5A00 | f), s.BC = 0x0110, s.DE = 0x9000, s.HL = 0x9100;
    s.IX = 0xA000, s.IY = 0xB000, s.SP = 0xC000, s.I = 0x12, s.IM = 1;
    s.AF_ = 0x1111, s.BC_ = 0x2222, s.DE_ = 0x3333, s.HL_ = 0x4444;
    WriteWord(0xC000, SweepReturn);
    Put(SweepAt, code);
    s.PC = SweepAt;
    Snapshot before;
    ExecuteInstruction();
    return before;
}

using Ranges = std::vector<std::pair<int, int>>;
std::set<int> Expand(const Ranges& ranges) {
    std::set<int> out;
    for (auto [lo, hi] : ranges)
        for (int v = lo; v <= hi; ++v)
            out.insert(v);
    return out;
}
// The two lists of one table must split the 256 values between them.
void ExpectPartition(const std::set<int>& executed, const std::set<int>& stalled, size_t count) {
    EXPECT_EQ(executed.size(), count);
    EXPECT_EQ(executed.size() + stalled.size(), 256u);
    for (int v : executed)
        EXPECT_FALSE(stalled.count(v)) << v << " in both lists";
}

TEST_F(Conformance, CbRunsExactly248SecondBytes) {
    std::set<int> stalled = Expand({{0x30, 0x37}}), executed;
    for (int op = 0; op < 256; ++op)
        if (!stalled.count(op)) executed.insert(op);
    ExpectPartition(executed, stalled, 248);
    Mismatches m;
    for (int op = 0; op < 256; ++op)
        for (uint8_t f : {0x00, 0xFF}) {
            Snapshot before = SweepRun({0xCB, uint8_t(op)}, f);
            bool res_set = op >= 0x80;
            if (stalled.count(op))
                m.Note(before.SameExceptPc(SweepAt), "CB %02X should stall", op);
            else
                m.Note(CpuState.PC == SweepAt + 2 && (!res_set || CpuState.F == f),
                       "CB %02X F=%02X: PC=%04X F=%02X", op, f, CpuState.PC, CpuState.F);
        }
    EXPECT_AGREES(m);
}

TEST_F(Conformance, IndexPrefixesRunExactly40SecondBytesAnd31BitForms) {
    // Second bytes that run, with the length of the instruction (0: a jump to the value of XY).
    const std::pair<int, int> runs[] = {
        {0x09, 2}, {0x19, 2}, {0x21, 4}, {0x22, 4}, {0x23, 2}, {0x29, 2}, {0x2A, 4}, {0x2B, 2},
        {0x34, 3}, {0x35, 3}, {0x36, 4}, {0x39, 2}, {0x46, 3}, {0x4E, 3}, {0x56, 3}, {0x5E, 3},
        {0x66, 3}, {0x6E, 3}, {0x7E, 3}, {0x70, 3}, {0x71, 3}, {0x72, 3}, {0x73, 3}, {0x74, 3},
        {0x75, 3}, {0x77, 3}, {0x86, 3}, {0x8E, 3}, {0x96, 3}, {0x9E, 3}, {0xA6, 3}, {0xAE, 3},
        {0xB6, 3}, {0xBE, 3}, {0xCB, 4}, {0xE1, 2}, {0xE3, 2}, {0xE5, 2}, {0xE9, 0}, {0xF9, 2}};
    const Ranges stall_list = {
        {0x00, 0x08}, {0x0A, 0x18}, {0x1A, 0x20}, {0x24, 0x28}, {0x2C, 0x33}, {0x37, 0x38},
        {0x3A, 0x45}, {0x47, 0x4D}, {0x4F, 0x55}, {0x57, 0x5D}, {0x5F, 0x65}, {0x67, 0x6D},
        {0x6F, 0x6F}, {0x76, 0x76}, {0x78, 0x7D}, {0x7F, 0x85}, {0x87, 0x8D}, {0x8F, 0x95},
        {0x97, 0x9D}, {0x9F, 0xA5}, {0xA7, 0xAD}, {0xAF, 0xB5}, {0xB7, 0xBD}, {0xBF, 0xCA},
        {0xCC, 0xE0}, {0xE2, 0xE2}, {0xE4, 0xE4}, {0xE6, 0xE8}, {0xEA, 0xF8}, {0xFA, 0xFF}};
    int length[256] = {};
    std::set<int> executed, stalled = Expand(stall_list);
    for (auto [op, len] : runs)
        executed.insert(op), length[op] = len;
    ExpectPartition(executed, stalled, 40);
    // F is left alone except by ADD XY, INC/DEC (XY+d), the accumulator operations and the bit
    // group.
    const std::set<int> flag_ops = {0x09, 0x19, 0x29, 0x39, 0x34, 0x35, 0x86, 0x8E,
                                    0x96, 0x9E, 0xA6, 0xAE, 0xB6, 0xBE, 0xCB};
    // Fourth bytes of the bit group that run: bits 0-2 = 6, except 0x36.
    std::set<int> bit_executed, bit_stalled;
    for (int op = 0; op < 256; ++op)
        ((op & 7) == 6 && op != 0x36 ? bit_executed : bit_stalled).insert(op);
    EXPECT_EQ(bit_executed.size(), 31u);

    Mismatches m;
    for (uint8_t prefix : {0xDD, 0xFD})
        for (uint8_t f : {0x00, 0xFF}) {
            bool ix = prefix == 0xDD;
            for (int op = 0; op < 256; ++op) {
                Snapshot before = SweepRun({prefix, uint8_t(op), 0x05, 0x46}, f);
                const CpuRegisters& was = before.registers;
                uint16_t xy = ix ? was.IX : was.IY;
                if (stalled.count(op)) {
                    m.Note(before.SameExceptPc(SweepAt), "%02X %02X should stall", prefix, op);
                    continue;
                }
                uint16_t next = length[op] ? uint16_t(SweepAt + length[op]) : xy;
                bool other_kept = ix ? CpuState.IY == was.IY : CpuState.IX == was.IX;
                bool f_kept = flag_ops.count(op) || CpuState.F == f;
                m.Note(CpuState.PC == next && other_kept && f_kept,
                       "%02X %02X F=%02X: PC=%04X F=%02X IX=%04X IY=%04X", prefix, op, f,
                       CpuState.PC, CpuState.F, CpuState.IX, CpuState.IY);
            }
            for (int op = 0; op < 256; ++op) {
                Snapshot before = SweepRun({prefix, 0xCB, 0x05, uint8_t(op)}, f);
                if (bit_stalled.count(op))
                    m.Note(before.SameExceptPc(SweepAt), "%02X CB 05 %02X should stall", prefix,
                           op);
                else
                    m.Note(CpuState.PC == SweepAt + 4 && (op < 0x80 || CpuState.F == f),
                           "%02X CB 05 %02X: PC=%04X F=%02X", prefix, op, CpuState.PC, CpuState.F);
            }
        }
    EXPECT_AGREES(m);
}

TEST_F(Conformance, EdRunsExactly57SecondBytes) {
    // Second bytes that run, with the length (0: a return through the word at SP).
    std::vector<std::pair<int, int>> runs = {{0x44, 2}, {0x45, 0}, {0x4D, 0}, {0x46, 2},
                                             {0x56, 2}, {0x5E, 2}, {0x47, 2}, {0x57, 2},
                                             {0x5F, 2}, {0x67, 2}, {0x6F, 2}};
    for (int r = 0x40; r <= 0x78; r += 8)
        if (r != 0x70) runs.push_back({r, 2}), runs.push_back({r + 1, 2}); // IN r,(C), OUT (C),r
    for (int p = 0x40; p <= 0x70; p += 0x10) {
        runs.push_back({p + 0x02, 2}), runs.push_back({p + 0x0A, 2}); // SBC, ADC HL,rr
        runs.push_back({p + 0x03, 4}), runs.push_back({p + 0x0B, 4}); // LD (nn),rr / rr,(nn)
    }
    for (int block = 0xA0; block <= 0xB8; block += 8)
        for (int k = 0; k < 4; ++k)
            runs.push_back({block + k, 2});
    const Ranges stall_list = {{0x00, 0x3F}, {0x4C, 0x4C}, {0x4E, 0x4F}, {0x54, 0x55},
                               {0x5C, 0x5D}, {0x64, 0x66}, {0x6C, 0x6E}, {0x70, 0x71},
                               {0x74, 0x77}, {0x7C, 0x7F}, {0x80, 0x9F}, {0xA4, 0xA7},
                               {0xAC, 0xAF}, {0xB4, 0xB7}, {0xBC, 0xFF}};
    int length[256] = {};
    std::set<int> executed, stalled = Expand(stall_list);
    for (auto [op, len] : runs)
        executed.insert(op), length[op] = len;
    ExpectPartition(executed, stalled, 57);
    // F is left alone by OUT, the absolute loads, RETN, RETI, IM and LD I,A.
    auto keeps_f = [](int op) {
        return (op < 0x80 && (op & 7) == 1) || (op < 0x80 && (op & 7) == 3) || op == 0x45 ||
               op == 0x4D || op == 0x46 || op == 0x56 || op == 0x5E || op == 0x47;
    };
    Mismatches m;
    for (uint8_t f : {0x00, 0xFF})
        for (int op = 0; op < 256; ++op) {
            Snapshot before = SweepRun({0xED, uint8_t(op), 0x05, 0x99}, f);
            const CpuRegisters& was = before.registers;
            if (stalled.count(op)) {
                m.Note(before.SameExceptPc(SweepAt), "ED %02X should stall", op);
                continue;
            }
            uint16_t next = length[op] ? uint16_t(SweepAt + length[op]) : SweepReturn;
            const auto& s = CpuState;
            bool untouched = s.IX == was.IX && s.IY == was.IY && s.AF_ == was.AF_ &&
                             s.BC_ == was.BC_ && s.DE_ == was.DE_ && s.HL_ == was.HL_;
            m.Note(s.PC == next && untouched && (!keeps_f(op) || s.F == f),
                   "ED %02X F=%02X: PC=%04X F=%02X", op, f, s.PC, s.F);
        }
    EXPECT_AGREES(m);
}

// Every first byte is an instruction: where PC goes, what is pushed, and which leave F alone.
TEST_F(Conformance, EveryFirstByteRunsWithItsLengthAndFlagEffect) {
    auto changes_f = [](int op) {
        if ((op >= 0x80 && op <= 0xBF) || (op & 0xC7) == 0xC6) return true; // ALU
        if (op < 0x40 && ((op & 7) == 4 || (op & 7) == 5)) return true;     // INC, DEC
        for (int o :
             {0x07, 0x0F, 0x17, 0x1F, 0x09, 0x19, 0x29, 0x39, 0x27, 0x2F, 0x37, 0x3F, 0x08, 0xF1})
            if (op == o) return true;
        return false;
    };
    Mismatches m;
    for (uint8_t f : {0x00, 0xFF})
        for (int op = 0; op < 256; ++op) {
            if (op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD) continue;
            Snapshot before = SweepRun({uint8_t(op), 0x34, 0x12}, f);
            const CpuRegisters& was = before.registers;
            int cc = op >> 3 & 7;
            const uint8_t cc_flag[] = {fZ, fC, fPV, fS};
            bool holds = ((f & cc_flag[cc >> 1]) != 0) == bool(cc & 1);
            uint16_t at = SweepAt, next = uint16_t(at + 1), pushed = 0;
            int stack = 0; // -2 pushed, +2 popped
            if (op == 0x10)
                next = uint16_t(at + 2); // DJNZ with B = 1 falls through
            else if (op == 0x18)
                next = uint16_t(at + 2 + 0x34);
            else if (op >= 0x20 && op < 0x40 && (op & 7) == 0)
                next = uint16_t(at + 2 +
                                ((f & (op < 0x30 ? fZ : fC)) ? (op & 8) != 0 : !(op & 8)) * 0x34);
            else if ((op & 0xCF) == 0x01 || (op & 0xE7) == 0x22)
                next = uint16_t(at + 3);
            else if ((op < 0x40 && (op & 7) == 6) || (op & 0xC7) == 0xC6 || op == 0xD3 ||
                     op == 0xDB)
                next = uint16_t(at + 2);
            else if ((op & 0xC7) == 0xC0 || op == 0xC9) {
                if (holds || op == 0xC9) next = SweepReturn, stack = 2;
            } else if ((op & 0xC7) == 0xC2 || op == 0xC3)
                next = (holds || op == 0xC3) ? 0x1234 : uint16_t(at + 3);
            else if ((op & 0xC7) == 0xC4 || op == 0xCD) {
                next = uint16_t(at + 3);
                if (holds || op == 0xCD) pushed = next, next = 0x1234, stack = -2;
            } else if ((op & 0xC7) == 0xC7)
                pushed = next, next = uint16_t(op & 0x38), stack = -2;
            else if (op == 0xE9)
                next = was.HL;
            else if (op == 0xE1 || op == 0xC1 || op == 0xD1 || op == 0xF1)
                stack = 2;
            else if ((op & 0xCF) == 0xC5)
                stack = -2;
            uint16_t sp = CpuState.SP;
            bool halted = (ReadControlFlags() & HALTED) != 0;
            bool ok = CpuState.PC == next && (op == 0xF9 || op == 0x31 || op == 0x33 ||
                                              op == 0x3B || sp == uint16_t(was.SP + stack));
            if (pushed) ok = ok && ReadWord(sp) == pushed;
            ok = ok && (changes_f(op) || CpuState.F == f) && halted == (op == 0x76);
            m.Note(ok, "%02X F=%02X: PC=%04X SP=%04X F=%02X", op, f, CpuState.PC, sp, CpuState.F);
        }
    EXPECT_AGREES(m);
}

// ---- The loop ----

// Every combination of the five ControlFlags bits, with IFF1 0 or 1 and each mode, against the
// poll written out step by step: QUIT, RESET, TICK, HALTED, KEY, looking again after each action.
TEST_F(Conformance, PollOrderForEveryCombinationOfControlBits) {
    int compared = 0;
    for (uint32_t bits = 0; bits < 32; ++bits)
        for (int iff = 0; iff < 2; ++iff)
            for (int im = 0; im < 3; ++im) {
                ResetMachineForTest();
                auto& s = CpuState;
                s.PC = 0x5000, s.SP = 0x8000, s.A = 0x42, s.I = 0x12;
                s.IFF1 = s.IFF2 = uint8_t(iff), s.IM = uint8_t(im);
                WriteInterruptBusByte(26);
                WriteWord(0x1234, 0x3000);
                for (uint16_t a : {0x0000, 0x0038, 0x0066, 0x3000, 0x5000})
                    MachineMemory[a] = 0;
                CpuRegisters want = s;
                uint32_t flags = bits;
                std::vector<std::pair<uint16_t, uint16_t>> pushes;
                bool quit = false, spins = false;
                auto push = [&](uint16_t w) {
                    want.SP = uint16_t(want.SP - 2);
                    pushes.push_back({want.SP, w});
                };
                while (flags) {
                    if (flags & QUIT) {
                        quit = true;
                        break;
                    }
                    if (flags & RESET) {
                        want.PC = 0, want.I = 0, want.IFF1 = want.IFF2 = 0, want.IM = 0;
                        flags = 0;
                    } else if (flags & TICK) {
                        want.IFF2 = want.IFF1, want.IFF1 = 0;
                        push(want.PC);
                        want.PC = 0x0066;
                        flags &= ~(TICK | HALTED);
                    } else if (flags & HALTED) {
                        spins = true;
                        break;
                    } else {
                        if (!want.IFF1) break;
                        if (want.IM != 0) {
                            want.IFF1 = want.IFF2 = 0;
                            push(want.PC);
                            want.PC = want.IM == 1 ? 0x0038 : 0x3000;
                        }
                        flags &= ~KEY;
                    }
                }
                if (spins) continue; // waits for another thread; not a single-step case
                if (!quit) want.PC = uint16_t(want.PC + 1);
                SetControlFlags(bits);
                bool stepped = ProcessorStep();
                SCOPED_TRACE(testing::Message()
                             << "bits " << bits << " IFF1 " << iff << " IM " << im);
                EXPECT_EQ(stepped, !quit);
                EXPECT_EQ(std::memcmp(&want, &s, sizeof want), 0)
                    << "PC " << s.PC << " want " << want.PC << ", SP " << s.SP << " want "
                    << want.SP << ", IFF1/2 " << int(s.IFF1) << int(s.IFF2);
                EXPECT_EQ(ReadControlFlags(), quit ? bits : flags);
                for (auto [at, word] : pushes)
                    EXPECT_EQ(ReadWord(at), word);
                ++compared;
            }
    EXPECT_EQ(compared, 2 * 3 * 32 - 2 * 3 * 2); // HALTED alone or with KEY spins
}

TEST_F(Conformance, Mode2VectorIsIPageOrTwiceTheBusByte) {
    struct Case {
        uint8_t i, bus;
        uint16_t vector;
    };
    const Case cases[] = {{0x12, 26, 0x1234},  {0x12, 0, 0x1200},   {0x12, 127, 0x12FE},
                          {0x12, 128, 0x1300}, {0x13, 128, 0x1300}, {0xFF, 255, 0xFFFE},
                          {0x00, 0x81, 0x0102}};
    for (const Case& c : cases) {
        ResetMachineForTest();
        auto& s = CpuState;
        s.PC = 0x5000, s.SP = 0x8000, s.I = c.i, s.IM = 2, s.IFF1 = s.IFF2 = 1;
        WriteInterruptBusByte(c.bus);
        WriteWord(c.vector, 0x2468);
        InterruptAcceptance();
        EXPECT_EQ(s.PC, 0x2468) << "I " << int(c.i) << " bus " << int(c.bus);
        EXPECT_EQ(ReadWord(0x7FFE), 0x5000);
        EXPECT_EQ(s.IFF1 | s.IFF2, 0);
    }
}

// An NMI handler made of RETN or RETI: RETN gives IFF1 back from IFF2, RETI leaves IFF1 clear.
TEST_F(Conformance, NmiReturnsThroughRetnAndReti) {
    struct Case {
        uint8_t second;
        int iff_before, iff1_after;
    };
    for (Case c : {Case{0x45, 1, 1}, Case{0x45, 0, 0}, Case{0x4D, 1, 0}, Case{0x4D, 0, 0}}) {
        ResetMachineForTest();
        auto& s = CpuState;
        s.PC = 0x5000, s.SP = 0x8000, s.IFF1 = s.IFF2 = uint8_t(c.iff_before);
        Put(0x0066, {0xED, c.second});
        MachineMemory[0x5000] = 0x00;
        SetControlFlags(TICK);
        ProcessorStep(); // NMI, then the return at 0x0066
        EXPECT_EQ(s.PC, 0x5000);
        EXPECT_EQ(s.SP, 0x8000);
        EXPECT_EQ(s.IFF1, c.iff1_after) << "ED " << int(c.second);
        EXPECT_EQ(s.IFF2, c.iff_before);
    }
}

TEST_F(Conformance, EiLetsAPendingKeyInBeforeTheNextInstruction) {
    auto& s = CpuState;
    Put(0x5000, {0xFB, 0x00}); // EI; NOP
    MachineMemory[0x0038] = 0x00;
    s.PC = 0x5000, s.SP = 0x8000, s.IM = 1;
    SetControlFlags(KEY);
    ProcessorStep(); // EI runs; KEY waits
    EXPECT_EQ(ReadControlFlags(), KEY);
    EXPECT_EQ(s.PC, 0x5001);
    ProcessorStep(); // accepted before the NOP at 0x5001
    EXPECT_EQ(s.PC, 0x0039);
    EXPECT_EQ(ReadWord(s.SP), 0x5001);
    EXPECT_EQ(ReadControlFlags(), 0u);
}

// ---- Operand order and wraps ----

TEST_F(Conformance, OperandOrderAndAddressWraps) {
    struct Case {
        const char* name;
        uint16_t at;
        std::vector<uint8_t> code;
        void (*setup)();
        bool (*check)();
    };
    auto& s = CpuState;
    const Case cases[] = {
        {"CB at FFFF reads its second byte at 0000",
         0xFFFF,
         {0xCB, 0x07},
         [] { CpuState.A = 0x80; },
         [] { return CpuState.A == 0x01 && CpuState.PC == 0x0001; }},
        {"stalled CB at FFFF stays at FFFF",
         0xFFFF,
         {0xCB, 0x30},
         [] {},
         [] { return CpuState.PC == 0xFFFF; }},
        {"DD CB d op across the top",
         0xFFFE,
         {0xDD, 0xCB, 0x05, 0xC6},
         [] { CpuState.IX = 0x1000, MachineMemory[0x1005] = 0; },
         [] { return MachineMemory[0x1005] == 1 && CpuState.PC == 0x0002; }},
        {"stalled FD CB across the top stays on the prefix",
         0xFFFE,
         {0xFD, 0xCB, 0x05, 0x07},
         [] {},
         [] { return CpuState.PC == 0xFFFE; }},
        {"ED at FFFF",
         0xFFFF,
         {0xED, 0x44},
         [] { CpuState.A = 1; },
         [] { return CpuState.A == 0xFF && CpuState.PC == 0x0001; }},
        {"stalled ED at FFFF", 0xFFFF, {0xED, 0x77}, [] {}, [] { return CpuState.PC == 0xFFFF; }},
        {"stalled DD at FFFF", 0xFFFF, {0xDD, 0x00}, [] {}, [] { return CpuState.PC == 0xFFFF; }},
        {"DD 36 d n: d first, then n",
         0x4000,
         {0xDD, 0x36, 0x05, 0x99},
         [] { CpuState.IX = 0x9000; },
         [] {
             return MachineMemory[0x9005] == 0x99 && MachineMemory[0x9099] == 0xFF &&
                    CpuState.PC == 0x4004;
         }},
        {"FD CB d op: d = -1 reaches below IY",
         0x4000,
         {0xFD, 0xCB, 0xFF, 0xC6},
         [] { CpuState.IY = 0x7C01, MachineMemory[0x7C00] = 0x20, CpuState.F = 0x5A; },
         [] { return MachineMemory[0x7C00] == 0x21 && CpuState.F == 0x5A; }},
        {"LD (IX+d),B from FFFF writes 0000",
         0x4000,
         {0xDD, 0x70, 0x01},
         [] { CpuState.IX = 0xFFFF, CpuState.B = 0x77; },
         [] { return MachineMemory[0x0000] == 0x77; }},
        {"CALL whose push overwrites its own operand",
         0x8000,
         {0xCD, 0x34, 0x12},
         [] { CpuState.SP = 0x8003; },
         [] { return CpuState.PC == 0x1234 && ReadWord(0x8001) == 0x8003; }},
        {"CALL at FFFE takes nn from FFFF and 0000",
         0xFFFE,
         {0xCD},
         [] {
             Put(0xFFFF, {0x78, 0x56}), CpuState.SP = 0x8000;
         },
         [] { return CpuState.PC == 0x5678 && ReadWord(0x7FFE) == 0x0001; }},
        {"RST 38 with SP 0001 wraps the push",
         0x2000,
         {0xFF},
         [] { CpuState.SP = 0x0001; },
         [] {
             return CpuState.PC == 0x0038 && CpuState.SP == 0xFFFF &&
                    MachineMemory[0xFFFF] == 0x01 && MachineMemory[0x0000] == 0x20;
         }},
        {"JR 7F from FFF0 wraps to 0071",
         0xFFF0,
         {0x18, 0x7F},
         [] {},
         [] { return CpuState.PC == 0x0071; }},
        {"JR FE jumps to itself",
         0x1000,
         {0x18, 0xFE},
         [] {},
         [] { return CpuState.PC == 0x1000; }},
        {"JR NZ not taken steps over e",
         0x1000,
         {0x20, 0x10},
         [] { CpuState.F = fZ; },
         [] { return CpuState.PC == 0x1002; }},
        {"DJNZ with B = 1 falls through",
         0x1000,
         {0x10, 0x10},
         [] { CpuState.B = 1; },
         [] { return CpuState.B == 0 && CpuState.PC == 0x1002; }},
        {"DJNZ with B = 0 jumps",
         0x1000,
         {0x10, 0x10},
         [] { CpuState.B = 0; },
         [] { return CpuState.B == 0xFF && CpuState.PC == 0x1012; }},
        {"JP NZ not taken steps over nn",
         0x1000,
         {0xC2, 0x00, 0x20},
         [] { CpuState.F = fZ; },
         [] { return CpuState.PC == 0x1003; }},
        {"EX (SP),IX at FFFF",
         0x4000,
         {0xDD, 0xE3},
         [] {
             CpuState.SP = 0xFFFF, CpuState.IX = 0x1234, Put(0xFFFF, {0xCD, 0xAB});
         },
         [] {
             return CpuState.IX == 0xABCD && MachineMemory[0xFFFF] == 0x34 &&
                    MachineMemory[0x0000] == 0x12 && CpuState.SP == 0xFFFF;
         }},
        {"POP IY from FFFF",
         0x4000,
         {0xFD, 0xE1},
         [] {
             CpuState.SP = 0xFFFF, Put(0xFFFF, {0xCD, 0xAB});
         },
         [] { return CpuState.IY == 0xABCD && CpuState.SP == 0x0001; }},
        {"LD (nn),SP at FFFF",
         0x4000,
         {0xED, 0x73, 0xFF, 0xFF},
         [] { CpuState.SP = 0x1234; },
         [] { return MachineMemory[0xFFFF] == 0x34 && MachineMemory[0x0000] == 0x12; }},
        {"JP (IX) takes IX itself",
         0x4000,
         {0xDD, 0xE9},
         [] { CpuState.IX = 0x4321, WriteWord(0x4321, 0x1111); },
         [] { return CpuState.PC == 0x4321; }},
        {"opcode at FFFF continues at 0000",
         0xFFFF,
         {0x00},
         [] {},
         [] { return CpuState.PC == 0x0000; }},
    };
    for (const Case& c : cases) {
        ResetMachineForTest();
        s.SP = 0x8000;
        Put(c.at, c.code);
        c.setup();
        s.PC = c.at;
        ExecuteInstruction();
        EXPECT_TRUE(c.check()) << c.name << ": PC=" << std::hex << s.PC;
    }
}

} // namespace
