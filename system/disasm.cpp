#include "system/disasm.h"

#include "cpu/bus.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char* const Conditions[8] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
const char* const AluOps[8] = {"ADD A,", "ADC A,", "SUB ", "SBC A,", "AND ", "XOR ", "OR ", "CP "};
const char* const Rotations[8] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLL", "SRL"};
const char* const Accumulator[8] = {"RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "SCF", "CCF"};
const char* const BlockOps[4][4] = {{"LDI", "CPI", "INI", "OUTI"},
                                    {"LDD", "CPD", "IND", "OUTD"},
                                    {"LDIR", "CPIR", "INIR", "OTIR"},
                                    {"LDDR", "CPDR", "INDR", "OTDR"}};

// Decoding state of one instruction: its bytes, where the next operand byte is, and the index
// register a DD or FD prefix chose.
struct Decoder {
    Decoder(const uint8_t* b, uint16_t a) : bytes(b), address(a) {}
    const uint8_t* bytes;
    uint16_t address;
    int pos = 0;              // next byte to read
    const char* index = "HL"; // "IX" or "IY" after a prefix
    bool prefixed = false;
    bool index_used = false; // the prefix changed an operand
    bool documented = true;
    char displacement[8] = {}; // "+0x05" of (IX+d), once read
    DisassembledInstruction out;

    uint8_t Byte() { return bytes[pos++]; }
    uint16_t Word() {
        uint16_t lo = Byte();
        return uint16_t(lo | Byte() << 8);
    }

    // The (HL) operand: (IX+d) with a prefix, reading d the first time.
    void Memory(char* dst, size_t size) {
        if (!prefixed) {
            std::snprintf(dst, size, "(HL)");
            return;
        }
        index_used = true;
        if (!displacement[0]) {
            const int d = int8_t(Byte());
            std::snprintf(displacement, sizeof displacement, "%c0x%02X", d < 0 ? '-' : '+',
                          d < 0 ? -d : d);
        }
        std::snprintf(dst, size, "(%s%s)", index, displacement);
    }

    // Register r (0-7: B C D E H L (HL) A). With a prefix, H and L are the index halves unless
    // the instruction also has an (IX+d) operand (memory_form).
    void Register(int r, bool memory_form, char* dst, size_t size) {
        static const char* const names[8] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
        if (r == 6) {
            Memory(dst, size);
        } else if (prefixed && !memory_form && (r == 4 || r == 5)) {
            index_used = true;
            documented = false;
            std::snprintf(dst, size, "%s%c", index, r == 4 ? 'H' : 'L');
        } else {
            std::snprintf(dst, size, "%s", names[r]);
        }
    }

    // Pair p: BC DE HL SP, or with af BC DE HL AF.
    const char* Pair(int p, bool af = false) {
        static const char* const names[4] = {"BC", "DE", "HL", "SP"};
        if (p == 2) {
            if (prefixed) index_used = true;
            return index;
        }
        return p == 3 && af ? "AF" : names[p];
    }

    void Text(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

void Decoder::Text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(out.text, sizeof out.text, format, args);
    va_end(args);
}

void DecodeCb(Decoder& d) {
    // With a prefix: DD CB d op, the displacement before the op byte.
    char mem[16];
    if (d.prefixed) d.Memory(mem, sizeof mem);
    const uint8_t op = d.Byte();
    const int x = op >> 6, y = op >> 3 & 7, z = op & 7;
    char reg[16];
    if (d.prefixed) {
        if (z != 6 && x != 1) { // the result is copied into a register as well
            d.documented = false;
            d.Register(z, true, reg, sizeof reg);
            if (x == 0)
                d.Text("%s %s,%s", Rotations[y], mem, reg);
            else
                d.Text("%s %d,%s,%s", x == 2 ? "RES" : "SET", y, mem, reg);
            return;
        }
        if (z != 6) d.documented = false; // BIT b,(IX+d) under another register's code
        std::snprintf(reg, sizeof reg, "%s", mem);
    } else {
        d.Register(z, false, reg, sizeof reg);
    }
    if (x == 0) {
        if (y == 6) d.documented = false;
        d.Text("%s %s", Rotations[y], reg);
    } else {
        d.Text("%s %d,%s", x == 1 ? "BIT" : x == 2 ? "RES" : "SET", y, reg);
    }
}

void DecodeEd(Decoder& d) {
    const uint8_t op = d.Byte();
    const int x = op >> 6, y = op >> 3 & 7, z = op & 7, p = y >> 1, q = y & 1;
    char reg[16];
    if (x == 1) {
        switch (z) {
        case 0:
            if (y == 6) {
                d.documented = false;
                d.Text("IN (C)");
            } else {
                d.Register(y, false, reg, sizeof reg);
                d.Text("IN %s,(C)", reg);
            }
            return;
        case 1:
            if (y == 6) {
                d.documented = false;
                d.Text("OUT (C),0");
            } else {
                d.Register(y, false, reg, sizeof reg);
                d.Text("OUT (C),%s", reg);
            }
            return;
        case 2: d.Text("%s HL,%s", q ? "ADC" : "SBC", p == 2 ? "HL" : d.Pair(p)); return;
        case 3: {
            if (p == 2) d.documented = false; // a second encoding of LD (nn),HL / LD HL,(nn)
            const uint16_t nn = d.Word();
            const char* pair = p == 2 ? "HL" : d.Pair(p);
            if (q)
                d.Text("LD %s,(0x%04X)", pair, nn);
            else
                d.Text("LD (0x%04X),%s", nn, pair);
            return;
        }
        case 4:
            if (y) d.documented = false;
            d.Text("NEG");
            return;
        case 5:
            if (y > 1) d.documented = false;
            d.Text(y == 1 ? "RETI" : "RETN");
            d.out.flow = FlowKind::Return;
            return;
        case 6: {
            static const int modes[8] = {0, 0, 1, 2, 0, 0, 1, 2};
            if (y == 1 || y > 3) d.documented = false;
            d.Text("IM %d", modes[y]);
            return;
        }
        default: {
            static const char* const misc[8] = {"LD I,A", "LD R,A", "LD A,I", "LD A,R",
                                                "RRD",    "RLD",    "NOP",    "NOP"};
            if (y >= 6) d.documented = false;
            d.Text("%s", misc[y]);
            return;
        }
        }
    }
    if (x == 2 && z <= 3 && y >= 4) {
        d.Text("%s", BlockOps[y - 4][z]);
        if (y >= 6) d.out.flow = FlowKind::BlockRepeat;
        return;
    }
    d.documented = false; // a hole: the Z80 does nothing for 8 T-states
    d.Text("NOP");
}

void DecodeMain(Decoder& d) {
    const uint8_t op = d.Byte();
    const int x = op >> 6, y = op >> 3 & 7, z = op & 7, p = y >> 1, q = y & 1;
    char a[16], b[16];
    switch (x) {
    case 0:
        switch (z) {
        case 0:
            if (y == 0) {
                d.Text("NOP");
            } else if (y == 1) {
                d.Text("EX AF,AF'");
            } else {
                const int e = int8_t(d.Byte());
                const uint16_t target = uint16_t(d.address + d.pos + e);
                d.out.flow = FlowKind::Jump;
                if (y == 2)
                    d.Text("DJNZ 0x%04X", target);
                else if (y == 3)
                    d.Text("JR 0x%04X", target);
                else
                    d.Text("JR %s,0x%04X", Conditions[y - 4], target);
            }
            return;
        case 1:
            if (q) {
                const char* dst = d.Pair(2);
                d.Text("ADD %s,%s", dst, d.Pair(p));
            } else {
                const char* pair = d.Pair(p);
                d.Text("LD %s,0x%04X", pair, d.Word());
            }
            return;
        case 2: {
            static const char* const via[2] = {"(BC)", "(DE)"};
            if (p < 2) {
                d.Text(q ? "LD A,%s" : "LD %s,A", via[p]);
            } else {
                const char* reg = p == 2 ? d.Pair(2) : "A";
                const uint16_t nn = d.Word();
                if (q)
                    d.Text("LD %s,(0x%04X)", reg, nn);
                else
                    d.Text("LD (0x%04X),%s", nn, reg);
            }
            return;
        }
        case 3: d.Text("%s %s", q ? "DEC" : "INC", d.Pair(p)); return;
        case 4:
        case 5:
            d.Register(y, false, a, sizeof a);
            d.Text("%s %s", z == 4 ? "INC" : "DEC", a);
            return;
        case 6:
            d.Register(y, false, a, sizeof a); // (IX+d) comes before n
            d.Text("LD %s,0x%02X", a, d.Byte());
            return;
        default: d.Text("%s", Accumulator[y]); return;
        }
    case 1:
        if (y == 6 && z == 6) {
            d.Text("HALT");
            d.out.flow = FlowKind::Halt;
            return;
        }
        d.Register(y, z == 6, a, sizeof a);
        d.Register(z, y == 6, b, sizeof b);
        d.Text("LD %s,%s", a, b);
        return;
    case 2:
        d.Register(z, false, a, sizeof a);
        d.Text("%s%s", AluOps[y], a);
        return;
    default: break;
    }
    switch (z) {
    case 0:
        d.Text("RET %s", Conditions[y]);
        d.out.flow = FlowKind::Return;
        return;
    case 1:
        if (!q) {
            d.Text("POP %s", d.Pair(p, true));
        } else if (p == 0) {
            d.Text("RET");
            d.out.flow = FlowKind::Return;
        } else if (p == 1) {
            d.Text("EXX");
        } else if (p == 2) {
            d.Text("JP (%s)", d.Pair(2));
            d.out.flow = FlowKind::Jump;
        } else {
            d.Text("LD SP,%s", d.Pair(2));
        }
        return;
    case 2:
        d.Text("JP %s,0x%04X", Conditions[y], d.Word());
        d.out.flow = FlowKind::Jump;
        return;
    case 3:
        switch (y) {
        case 0:
            d.Text("JP 0x%04X", d.Word());
            d.out.flow = FlowKind::Jump;
            return;
        case 1: DecodeCb(d); return;
        case 2: d.Text("OUT (0x%02X),A", d.Byte()); return;
        case 3: d.Text("IN A,(0x%02X)", d.Byte()); return;
        case 4: d.Text("EX (SP),%s", d.Pair(2)); return;
        case 5: d.Text("EX DE,HL"); return;
        case 6: d.Text("DI"); return;
        default: d.Text("EI"); return;
        }
    case 4:
        d.Text("CALL %s,0x%04X", Conditions[y], d.Word());
        d.out.flow = FlowKind::Call;
        return;
    case 5:
        if (!q) {
            d.Text("PUSH %s", d.Pair(p, true));
        } else if (p == 0) {
            d.Text("CALL 0x%04X", d.Word());
            d.out.flow = FlowKind::Call;
        } else if (p == 2) {
            DecodeEd(d);
        }
        return; // DD and FD are handled by the caller
    case 6: d.Text("%s0x%02X", AluOps[y], d.Byte()); return;
    default:
        d.Text("RST 0x%02X", y * 8);
        d.out.flow = FlowKind::Restart;
        return;
    }
}

} // namespace

DisassembledInstruction DisassembleBytes(const uint8_t bytes[4], uint16_t address) {
    Decoder d{bytes, address};
    if (bytes[0] == 0xDD || bytes[0] == 0xFD) {
        d.prefixed = true;
        d.index = bytes[0] == 0xDD ? "IX" : "IY";
        d.pos = 1;
        const uint8_t next = bytes[1];
        if (next != 0xDD && next != 0xFD && next != 0xED) {
            DecodeMain(d);
            if (d.index_used) {
                d.out.length = uint8_t(d.pos);
                d.out.documented = d.documented;
                return d.out;
            }
        }
        // No HL in what follows: the prefix alone, which the Z80 passes over like a NOP.
        Decoder nop{bytes, address};
        nop.Text("NOP");
        nop.out.documented = false;
        return nop.out;
    }
    DecodeMain(d);
    d.out.length = uint8_t(d.pos);
    d.out.documented = d.documented;
    return d.out;
}

DisassembledInstruction Disassemble(uint16_t address) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = ReadMemoryShared(uint16_t(address + i));
    return DisassembleBytes(bytes, address);
}
