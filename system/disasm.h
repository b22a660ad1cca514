// The Z80 disassembler: one instruction at a time, Zilog mnemonics, numbers in hex as 0x12 and
// 0x1234 (a relative jump shows its target address). Every byte sequence decodes to something:
// the documented forms, and the undocumented ones as a Z80 executes them: the index-register
// halves IXH, IXL, IYH, IYL; SLL; DD CB / FD CB forms that also copy the result into a register
// ("RLC (IX+0x05),B"); IN (C) and OUT (C),0; the ED duplicates of NEG, RETN and IM; the ED holes
// and a DD or FD before an instruction that has no HL in it as NOP forms. This processor stalls on
// most undocumented forms (cpu/*_table.h); the disassembler still names what the bytes mean.
//
// Nothing here allocates or locks: the text lives in the result.
#pragma once

#include <cstdint>

// What an instruction does to the flow of control, for stepping over and out of it.
enum class FlowKind : uint8_t {
    Plain,       // goes on to the next instruction
    Jump,        // JP, JR, DJNZ (conditional or not)
    Call,        // CALL, CALL cc
    Restart,     // RST p
    Return,      // RET, RET cc, RETI, RETN
    BlockRepeat, // LDIR, LDDR, CPIR, CPDR, INIR, INDR, OTIR, OTDR
    Halt,        // HALT
};

struct DisassembledInstruction {
    uint8_t length = 1; // bytes, 1 to 4
    FlowKind flow = FlowKind::Plain;
    bool documented = true; // false for the undocumented forms listed above
    char text[28] = {};     // e.g. "LD A,(IX+0x05)", NUL-terminated
};

// Decodes the instruction whose bytes start at bytes[0] (at least 4 bytes readable: an instruction
// is never longer), as if it stood at address (for the targets of JR and DJNZ).
DisassembledInstruction DisassembleBytes(const uint8_t bytes[4], uint16_t address);

// Decodes the instruction at address in the machine's memory (wrapping past 0xFFFF); safe from any
// thread.
DisassembledInstruction Disassemble(uint16_t address);
