// The execution loop. Each processor step: the pacing wait (waitstates idle iterations), the poll
// of ControlFlags (QUIT, RESET, TICK -> NMI to 0x0066, HALTED spin, KEY -> maskable interrupt),
// then the fetch and execution of one whole instruction.
//
// Front ends drive the core like this: LoadAddressSpace(); ProcessorReset(); then run
// ProcessorThreadBody on a thread of their own, and set TICK every 20 ms, KEY through the keyboard
// model, RESET and QUIT from buttons. Tests call ExecuteInstruction() (fetch + dispatch, no pacing,
// no poll) or ProcessorStep() directly on their own thread.
#pragma once

#include "cpu/cpu_state.h"

#include <cstdint>

constexpr uint16_t ResetAddress = 0x0000;
constexpr uint16_t NmiAddress = 0x0066;
constexpr uint16_t Mode1Address = 0x0038;

// PC, I, IFF1, IFF2, IM = 0; ControlFlags cleared except QUIT (a QUIT set meanwhile is never
// lost); the pseudo-random generator of LD A,R seeded with the time in seconds.
void ProcessorReset();
// Every TICK: IFF2 = IFF1, IFF1 = 0, push PC, PC = 0x0066.
void NmiEntry();
// KEY with IFF1 = 1, by IM: 0 nothing; 1 push PC, jump 0x0038; 2 push PC, jump through the word at
// I * 256 | 2 * InterruptBusByte. Modes 1 and 2 clear IFF1 and IFF2.
void InterruptAcceptance();

// Fetch the opcode at PC and execute that one whole instruction.
void ExecuteInstruction();

// One processor step: pacing wait, poll, one instruction. Returns false when QUIT was seen (no
// instruction executed then), true otherwise.
bool ProcessorStep();

// The ProcessorThread: steps until QUIT, then returns 16. The argument is ignored.
int ProcessorThreadBody(void* argument = nullptr);

// The prefixed tables, called with PC behind the prefix byte.
void ExecuteCbInstruction();
void ExecuteIndexInstruction(uint16_t& XY);
void ExecuteEdInstruction();

// The 256-entry handler tables (the main table's handlers are also inlined into the loop).
using Handler = void (*)();
using IndexHandler = void (*)(uint16_t& XY);
extern const Handler MainTable[256];
extern const Handler CbTable[256];
extern const IndexHandler IndexTable[256];
extern const IndexHandler IndexBitTable[256]; // fourth byte of DD CB d op / FD CB d op
extern const Handler EdTable[256];
