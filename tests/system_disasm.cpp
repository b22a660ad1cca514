// The disassembler against a table written by hand from the Z80 documentation: one or more lines
// for every opcode form, documented and undocumented, each with its bytes, its length and the text
// we expect. The instruction is placed at 0x1000, so relative jumps have known targets.
#include "system/disasm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

struct Case {
    std::vector<uint8_t> bytes;
    const char* text;
    bool documented = true;
};

const Case Documented[] = {
    // 8-bit loads
    {{0x7F}, "LD A,A"},
    {{0x41}, "LD B,C"},
    {{0x5A}, "LD E,D"},
    {{0x64}, "LD H,H"},
    {{0x6B}, "LD L,E"},
    {{0x7E}, "LD A,(HL)"},
    {{0x70}, "LD (HL),B"},
    {{0x3E, 0x05}, "LD A,0x05"},
    {{0x36, 0xAB}, "LD (HL),0xAB"},
    {{0x0A}, "LD A,(BC)"},
    {{0x1A}, "LD A,(DE)"},
    {{0x02}, "LD (BC),A"},
    {{0x12}, "LD (DE),A"},
    {{0x3A, 0x34, 0x12}, "LD A,(0x1234)"},
    {{0x32, 0x00, 0x80}, "LD (0x8000),A"},
    {{0xED, 0x57}, "LD A,I"},
    {{0xED, 0x5F}, "LD A,R"},
    {{0xED, 0x47}, "LD I,A"},
    {{0xED, 0x4F}, "LD R,A"},
    // 16-bit loads, stack
    {{0x01, 0x34, 0x12}, "LD BC,0x1234"},
    {{0x31, 0xFF, 0xFF}, "LD SP,0xFFFF"},
    {{0x2A, 0x10, 0x00}, "LD HL,(0x0010)"},
    {{0x22, 0x10, 0x00}, "LD (0x0010),HL"},
    {{0xED, 0x4B, 0x02, 0x01}, "LD BC,(0x0102)"},
    {{0xED, 0x73, 0x02, 0x01}, "LD (0x0102),SP"},
    {{0xED, 0x5B, 0x00, 0x40}, "LD DE,(0x4000)"},
    {{0xF9}, "LD SP,HL"},
    {{0xC5}, "PUSH BC"},
    {{0xF5}, "PUSH AF"},
    {{0xE1}, "POP HL"},
    {{0xF1}, "POP AF"},
    // exchanges, block transfer and search
    {{0xEB}, "EX DE,HL"},
    {{0x08}, "EX AF,AF'"},
    {{0xD9}, "EXX"},
    {{0xE3}, "EX (SP),HL"},
    {{0xED, 0xA0}, "LDI"},
    {{0xED, 0xB0}, "LDIR"},
    {{0xED, 0xA8}, "LDD"},
    {{0xED, 0xB8}, "LDDR"},
    {{0xED, 0xA1}, "CPI"},
    {{0xED, 0xB1}, "CPIR"},
    {{0xED, 0xA9}, "CPD"},
    {{0xED, 0xB9}, "CPDR"},
    // 8-bit arithmetic and logic
    {{0x80}, "ADD A,B"},
    {{0x8E}, "ADC A,(HL)"},
    {{0x92}, "SUB D"},
    {{0x9F}, "SBC A,A"},
    {{0xA3}, "AND E"},
    {{0xAC}, "XOR H"},
    {{0xB5}, "OR L"},
    {{0xBE}, "CP (HL)"},
    {{0xC6, 0x01}, "ADD A,0x01"},
    {{0xCE, 0x02}, "ADC A,0x02"},
    {{0xD6, 0x03}, "SUB 0x03"},
    {{0xDE, 0x04}, "SBC A,0x04"},
    {{0xE6, 0x0F}, "AND 0x0F"},
    {{0xEE, 0xFF}, "XOR 0xFF"},
    {{0xF6, 0x80}, "OR 0x80"},
    {{0xFE, 0x0D}, "CP 0x0D"},
    {{0x3C}, "INC A"},
    {{0x34}, "INC (HL)"},
    {{0x05}, "DEC B"},
    {{0x35}, "DEC (HL)"},
    // general purpose, CPU control
    {{0x27}, "DAA"},
    {{0x2F}, "CPL"},
    {{0xED, 0x44}, "NEG"},
    {{0x3F}, "CCF"},
    {{0x37}, "SCF"},
    {{0x00}, "NOP"},
    {{0x76}, "HALT"},
    {{0xF3}, "DI"},
    {{0xFB}, "EI"},
    {{0xED, 0x46}, "IM 0"},
    {{0xED, 0x56}, "IM 1"},
    {{0xED, 0x5E}, "IM 2"},
    // 16-bit arithmetic
    {{0x09}, "ADD HL,BC"},
    {{0x39}, "ADD HL,SP"},
    {{0xED, 0x4A}, "ADC HL,BC"},
    {{0xED, 0x72}, "SBC HL,SP"},
    {{0xED, 0x6A}, "ADC HL,HL"},
    {{0x03}, "INC BC"},
    {{0x3B}, "DEC SP"},
    // rotates and shifts
    {{0x07}, "RLCA"},
    {{0x17}, "RLA"},
    {{0x0F}, "RRCA"},
    {{0x1F}, "RRA"},
    {{0xCB, 0x00}, "RLC B"},
    {{0xCB, 0x0E}, "RRC (HL)"},
    {{0xCB, 0x11}, "RL C"},
    {{0xCB, 0x1A}, "RR D"},
    {{0xCB, 0x23}, "SLA E"},
    {{0xCB, 0x2C}, "SRA H"},
    {{0xCB, 0x3F}, "SRL A"},
    {{0xED, 0x6F}, "RLD"},
    {{0xED, 0x67}, "RRD"},
    // bits
    {{0xCB, 0x47}, "BIT 0,A"},
    {{0xCB, 0x7E}, "BIT 7,(HL)"},
    {{0xCB, 0x95}, "RES 2,L"},
    {{0xCB, 0xB6}, "RES 6,(HL)"},
    {{0xCB, 0xD8}, "SET 3,B"},
    {{0xCB, 0xFE}, "SET 7,(HL)"},
    // jumps (at 0x1000: JR +5 from 0x1002 goes to 0x1007)
    {{0xC3, 0x00, 0x20}, "JP 0x2000"},
    {{0xC2, 0x00, 0x20}, "JP NZ,0x2000"},
    {{0xCA, 0x00, 0x20}, "JP Z,0x2000"},
    {{0xD2, 0x00, 0x20}, "JP NC,0x2000"},
    {{0xDA, 0x00, 0x20}, "JP C,0x2000"},
    {{0xE2, 0x00, 0x20}, "JP PO,0x2000"},
    {{0xEA, 0x00, 0x20}, "JP PE,0x2000"},
    {{0xF2, 0x00, 0x20}, "JP P,0x2000"},
    {{0xFA, 0x00, 0x20}, "JP M,0x2000"},
    {{0x18, 0x05}, "JR 0x1007"},
    {{0x18, 0xFE}, "JR 0x1000"},
    {{0x38, 0x00}, "JR C,0x1002"},
    {{0x30, 0x80}, "JR NC,0x0F82"},
    {{0x28, 0x7F}, "JR Z,0x1081"},
    {{0x20, 0xFC}, "JR NZ,0x0FFE"},
    {{0xE9}, "JP (HL)"},
    {{0x10, 0xFE}, "DJNZ 0x1000"},
    // calls, returns, restarts
    {{0xCD, 0x34, 0x12}, "CALL 0x1234"},
    {{0xC4, 0x34, 0x12}, "CALL NZ,0x1234"},
    {{0xFC, 0x34, 0x12}, "CALL M,0x1234"},
    {{0xC9}, "RET"},
    {{0xC8}, "RET Z"},
    {{0xF0}, "RET P"},
    {{0xED, 0x4D}, "RETI"},
    {{0xED, 0x45}, "RETN"},
    {{0xC7}, "RST 0x00"},
    {{0xCF}, "RST 0x08"},
    {{0xFF}, "RST 0x38"},
    // input and output
    {{0xDB, 0x38}, "IN A,(0x38)"},
    {{0xED, 0x40}, "IN B,(C)"},
    {{0xED, 0x78}, "IN A,(C)"},
    {{0xED, 0xA2}, "INI"},
    {{0xED, 0xB2}, "INIR"},
    {{0xED, 0xAA}, "IND"},
    {{0xED, 0xBA}, "INDR"},
    {{0xD3, 0xFF}, "OUT (0xFF),A"},
    {{0xED, 0x41}, "OUT (C),B"},
    {{0xED, 0x69}, "OUT (C),L"},
    {{0xED, 0xA3}, "OUTI"},
    {{0xED, 0xB3}, "OTIR"},
    {{0xED, 0xAB}, "OUTD"},
    {{0xED, 0xBB}, "OTDR"},
    // index registers
    {{0xDD, 0x7E, 0x05}, "LD A,(IX+0x05)"},
    {{0xFD, 0x46, 0xFB}, "LD B,(IY-0x05)"},
    {{0xDD, 0x66, 0x00}, "LD H,(IX+0x00)"},
    {{0xDD, 0x75, 0x80}, "LD (IX-0x80),L"},
    {{0xFD, 0x36, 0x7F, 0x42}, "LD (IY+0x7F),0x42"},
    {{0xDD, 0x21, 0x00, 0x90}, "LD IX,0x9000"},
    {{0xFD, 0x2A, 0x00, 0x90}, "LD IY,(0x9000)"},
    {{0xDD, 0x22, 0x00, 0x90}, "LD (0x9000),IX"},
    {{0xDD, 0xF9}, "LD SP,IX"},
    {{0xFD, 0xE5}, "PUSH IY"},
    {{0xDD, 0xE1}, "POP IX"},
    {{0xFD, 0xE3}, "EX (SP),IY"},
    {{0xDD, 0x86, 0x01}, "ADD A,(IX+0x01)"},
    {{0xFD, 0x9E, 0x02}, "SBC A,(IY+0x02)"},
    {{0xDD, 0xBE, 0xFF}, "CP (IX-0x01)"},
    {{0xDD, 0x34, 0x03}, "INC (IX+0x03)"},
    {{0xFD, 0x35, 0x03}, "DEC (IY+0x03)"},
    {{0xDD, 0x09}, "ADD IX,BC"},
    {{0xDD, 0x29}, "ADD IX,IX"},
    {{0xFD, 0x39}, "ADD IY,SP"},
    {{0xDD, 0x23}, "INC IX"},
    {{0xFD, 0x2B}, "DEC IY"},
    {{0xDD, 0xE9}, "JP (IX)"},
    {{0xDD, 0xCB, 0x02, 0x06}, "RLC (IX+0x02)"},
    {{0xFD, 0xCB, 0xFE, 0x3E}, "SRL (IY-0x02)"},
    {{0xDD, 0xCB, 0x00, 0x46}, "BIT 0,(IX+0x00)"},
    {{0xFD, 0xCB, 0x10, 0xBE}, "RES 7,(IY+0x10)"},
    {{0xDD, 0xCB, 0x10, 0xDE}, "SET 3,(IX+0x10)"},
};

const Case Undocumented[] = {
    {{0xDD, 0x7C}, "LD A,IXH", false},
    {{0xFD, 0x65}, "LD IYH,IYL", false},
    {{0xDD, 0x26, 0x12}, "LD IXH,0x12", false},
    {{0xFD, 0x2C}, "INC IYL", false},
    {{0xDD, 0x84}, "ADD A,IXH", false},
    {{0xFD, 0xBD}, "CP IYL", false},
    {{0xCB, 0x30}, "SLL B", false},
    {{0xCB, 0x36}, "SLL (HL)", false},
    {{0xDD, 0xCB, 0x01, 0x00}, "RLC (IX+0x01),B", false},
    {{0xFD, 0xCB, 0xFF, 0x37}, "SLL (IY-0x01),A", false},
    {{0xDD, 0xCB, 0x03, 0x36}, "SLL (IX+0x03)", false},
    {{0xDD, 0xCB, 0x02, 0x81}, "RES 0,(IX+0x02),C", false},
    {{0xFD, 0xCB, 0x02, 0xFA}, "SET 7,(IY+0x02),D", false},
    {{0xDD, 0xCB, 0x04, 0x41}, "BIT 0,(IX+0x04)", false},
    {{0xED, 0x70}, "IN (C)", false},
    {{0xED, 0x71}, "OUT (C),0", false},
    {{0xED, 0x4C}, "NEG", false},
    {{0xED, 0x7C}, "NEG", false},
    {{0xED, 0x55}, "RETN", false},
    {{0xED, 0x7D}, "RETN", false},
    {{0xED, 0x66}, "IM 0", false},
    {{0xED, 0x76}, "IM 1", false},
    {{0xED, 0x7E}, "IM 2", false},
    {{0xED, 0x63, 0x34, 0x12}, "LD (0x1234),HL", false},
    {{0xED, 0x6B, 0x34, 0x12}, "LD HL,(0x1234)", false},
    {{0xED, 0x00}, "NOP", false},
    {{0xED, 0x77}, "NOP", false},
    {{0xED, 0xFF}, "NOP", false},
    {{0xED, 0xA4}, "NOP", false},
    // A prefix before an instruction without HL: the prefix alone passes as a NOP.
    {{0xDD}, "NOP", false},
    {{0xFD}, "NOP", false},
};

void Check(const Case& c) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < c.bytes.size(); ++i)
        bytes[i] = c.bytes[i];
    const DisassembledInstruction d = DisassembleBytes(bytes, 0x1000);
    EXPECT_STREQ(d.text, c.text) << "bytes " << std::hex << int(bytes[0]) << " " << int(bytes[1]);
    EXPECT_EQ(d.length, c.bytes.size()) << c.text;
    EXPECT_EQ(d.documented, c.documented) << c.text;
}

} // namespace

TEST(Disassembler, EveryDocumentedForm) {
    for (const auto& c : Documented)
        Check(c);
}

TEST(Disassembler, UndocumentedForms) {
    for (const auto& c : Undocumented)
        Check(c);
}

// The prefix alone when what follows has no HL, H, L or (HL): the next instruction decodes on
// its own (DD 00 is the prefix, then NOP; DD ED B0 the prefix, then LDIR).
TEST(Disassembler, IgnoredPrefixLeavesTheNextInstructionWhole) {
    const uint8_t sequences[][4] = {
        {0xDD, 0x00, 0, 0}, {0xFD, 0xED, 0xB0, 0}, {0xDD, 0xFD, 0x21, 0}, {0xDD, 0xEB, 0, 0}};
    for (const auto& s : sequences) {
        const DisassembledInstruction d = DisassembleBytes(s, 0);
        EXPECT_EQ(d.length, 1);
        EXPECT_STREQ(d.text, "NOP");
    }
}

// Every byte sequence decodes to 1-4 bytes of text without a stray character.
TEST(Disassembler, EveryOpcodeDecodesWithinBounds) {
    for (int prefix : {-1, 0xCB, 0xDD, 0xED, 0xFD})
        for (int op = 0; op < 256; ++op) {
            uint8_t bytes[4] = {uint8_t(op), 0x12, 0x34, 0x56};
            if (prefix >= 0) {
                bytes[0] = uint8_t(prefix);
                bytes[1] = uint8_t(op);
            }
            const DisassembledInstruction d = DisassembleBytes(bytes, 0);
            ASSERT_GE(d.length, 1);
            ASSERT_LE(d.length, 4);
            ASSERT_GT(std::strlen(d.text), 1u);
            for (const char* p = d.text; *p; ++p)
                ASSERT_TRUE(std::isprint(uint8_t(*p))) << d.text;
        }
}

TEST(Disassembler, FlowKindsForStepping) {
    const struct {
        std::vector<uint8_t> bytes;
        FlowKind flow;
    } cases[] = {{{0xCD, 0, 0}, FlowKind::Call},
                 {{0xDC, 0, 0}, FlowKind::Call},
                 {{0xD7}, FlowKind::Restart},
                 {{0xC9}, FlowKind::Return},
                 {{0xD8}, FlowKind::Return},
                 {{0xED, 0x4D}, FlowKind::Return},
                 {{0xED, 0xB0}, FlowKind::BlockRepeat},
                 {{0xED, 0xB3}, FlowKind::BlockRepeat},
                 {{0xED, 0xA0}, FlowKind::Plain},
                 {{0x10, 0}, FlowKind::Jump},
                 {{0xDD, 0xE9}, FlowKind::Jump},
                 {{0x76}, FlowKind::Halt},
                 {{0x3E, 0}, FlowKind::Plain}};
    for (const auto& c : cases) {
        uint8_t bytes[4] = {};
        std::copy(c.bytes.begin(), c.bytes.end(), bytes);
        EXPECT_EQ(int(DisassembleBytes(bytes, 0).flow), int(c.flow))
            << DisassembleBytes(bytes, 0).text;
    }
}
