// The debugger: breakpoints, stepping, registers, memory, a PC history, a trace, symbols, and the
// free BASIC's lines and variables. Qt-free; the window and the headless runner's control protocol
// are two front ends over these functions. debugger.cpp holds the processor's hook (breakpoints,
// stepping, the trace) and registers and memory; debugger_symbols.cpp the symbol files;
// debugger_basic.cpp the free BASIC's lines and variables; breakpoint_text.cpp the breakpoint
// text; registers.h the registers by name.
//
// How it runs. DebugAttach sets DEBUG in ControlFlags: from then on every processor step calls the
// debugger's hook before the instruction (cpu/processor.h), which keeps the PC history, checks the
// execution breakpoints and the stepping goal, and sends the instruction through the checked tables
// while a memory or port watch is set. Detached, the processor runs its plain loop and this costs
// nothing. A stop happens on the processor's thread at an instruction boundary: the debugger pauses
// the machine as SystemPause(true) does (no instruction, no tick, no interrupt until it resumes),
// asks for a fresh frame, and counts the stop (DebugStopSerial). Resuming continues exactly where
// it stopped; the instruction a breakpoint stopped at then executes without firing again.
//
// Both ways of running work: with the threads (SystemStart) the stop pauses the ProcessorThread;
// deterministically (SystemRunTick) the tick in progress ends at the stop, and the next
// SystemRunTick first finishes that tick's remaining instructions.
//
// Threads. Every function here is called from one front-end thread (the GUI thread, the runner's
// thread), never from two at once. The front end polls DebugStopSerial / DebugStanding while the
// machine runs. Registers, the PC history and memory writes need a machine that stands still
// (stopped, or paused, or not started): they answer false otherwise. Breakpoints may be changed
// while the machine runs: the debugger holds the processor for a moment (no lock on its path).
//
// Numbers: addresses 0-65535, ports 0-255. Nothing here throws.
#pragma once

#include "system/disasm.h"
#include "system/registers.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Attaching ----------------------------------------------------------------------------------

// Arms the hook. Breakpoints can be set before; they fire only while attached.
void DebugAttach();
// Removes every breakpoint, ends a trace, resumes a machine the debugger stopped, and returns the
// processor to its plain loop. Symbols stay loaded.
void DebugDetach();
bool DebugAttached();

// ---- Breakpoints --------------------------------------------------------------------------------

enum class BreakKind : uint8_t {
    Execute,   // before the instruction at address executes
    Read,      // after an instruction that read a byte in [address, address + length)
    Write,     // after an instruction that wrote there (even the value it held)
    Access,    // read or write
    PortIn,    // after an IN from port address (IN A,(n), IN r,(C), INI ... by the port number)
    PortOut,   // after an OUT to port address (port 255: the host file service)
    Interrupt, // when a maskable interrupt is accepted: before its handler's first instruction
    Nmi,       // when the NMI (the 50 Hz tick) is taken: before the instruction at 0x0066
};

// A register or a memory byte compared with a value; the breakpoint fires only when it holds.
enum class CompareOp : uint8_t { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };
struct BreakCondition {
    bool active = false;
    bool memory = false; // true: the byte at address; false: the register named reg
    std::string reg;     // "A", "BC", "HL", "SP", "IX", "F", ... (a name of RegisterTable)
    uint16_t address = 0;
    CompareOp op = CompareOp::Equal;
    uint16_t value = 0;
};

struct Breakpoint {
    int id = 0; // given by DebugAddBreakpoint, from 1 up, never reused in a run
    BreakKind kind = BreakKind::Execute;
    uint16_t address = 0; // the port for PortIn and PortOut; unused for Interrupt and Nmi
    uint32_t length = 1;  // bytes watched from address (Read, Write, Access), 1 - 65536
    bool enabled = true;
    bool temporary = false; // removed once it fired (run to, BASIC line when asked so)
    BreakCondition condition;
    uint32_t hits = 0; // times it fired
    std::string label; // what a front end shows beside it, may be empty
    // 1-65535: fires only as the BASIC starts this program line (an Execute breakpoint on the
    // interpreter's statement routine, placed by DebugAddBreakpoint); -1 for none.
    int32_t basic_line = -1;
};

constexpr size_t MaxBreakpoints = 1024;

// Returns the new id, or 0 with error set (a full list, a length of 0 or past 0xFFFF, a port
// above 255, an unknown register in the condition, a BASIC line without the BASIC's symbols).
int DebugAddBreakpoint(const Breakpoint& b, std::string* error = nullptr);
bool DebugRemoveBreakpoint(int id);
bool DebugEnableBreakpoint(int id, bool enabled);
void DebugClearBreakpoints();
std::vector<Breakpoint> DebugBreakpoints(); // in the order they were added

// The breakpoint as text, one grammar for reading and writing: what DescribeBreakpoint writes,
// ParseBreakpoint reads back to the same breakpoint. Numbers are hexadecimal ("1A2B", "0x1A2B",
// "$1A2B", "1A2BH"), BASIC lines decimal; an address may be a symbol's name; words in any case.
//   [exec] ADDR                  before the instruction at ADDR
//   line N                       as the free BASIC starts program line N
//   [watch] r|w|rw ADDR[+LENGTH] a memory read, write or either, LENGTH bytes (1-10000)
//   in PORT, out PORT            an IN or OUT on port 0-FF
//   int (interrupt), nmi         the maskable interrupt, the NMI
// then, each optional, in this order:
//   if REG OP VALUE, if (ADDR) OP VALUE   OP one of == != < <= > >=; a register of RegisterTable
//   once                         removed once it fired
//   (off)                        disabled
//   [LABEL]                      a label
// DescribeBreakpoint writes "exec 0x1234", "watch rw 0x8000+2", "in 0x38", "line 20",
// "nmi if A == 0x07 (off)", ...
std::string DescribeBreakpoint(const Breakpoint& b);
// False, with error saying why, for text outside the grammar (b is then unchanged); the id, the
// hits and the address of a BASIC line are DebugAddBreakpoint's to set.
bool ParseBreakpoint(const std::string& text, Breakpoint& b, std::string* error = nullptr);
// An address as the grammar reads one: a symbol's name, else a hexadecimal number 0-FFFF.
bool DebugParseAddress(const std::string& text, uint16_t& address);

// ---- Running and stopping -----------------------------------------------------------------------

enum class StopReason : uint8_t {
    None,       // not stopped by the debugger
    Breakpoint, // an Execute breakpoint (id says which)
    Watch,      // a Read, Write or Access breakpoint
    Io,         // a PortIn or PortOut breakpoint
    Interrupt,  // an Interrupt or Nmi breakpoint
    Step,       // DebugStep's count done
    StepOver,   // back behind the stepped-over instruction
    StepOut,    // returned from the routine
    RunTo,      // at DebugRunTo's address
    Pause,      // DebugPause
};
const char* StopReasonName(StopReason r); // "break", "watch", "io", "interrupt", "step", ...

struct StopInfo {
    StopReason reason = StopReason::None;
    int id = 0;           // the breakpoint that fired, 0 for none
    uint16_t pc = 0;      // where the machine stands: the next instruction to execute
    uint16_t address = 0; // Watch: the byte accessed; Io: the port
    uint8_t value = 0;    // Watch, Io: the byte read or written
    uint64_t serial = 0;  // DebugStopSerial() of this stop
};

// These resume a machine that stands still (stopped by the debugger or paused) with a goal, and
// return at once; false when the machine does not stand still or the debugger is not attached.
bool DebugContinue();
bool DebugStep(uint32_t count = 1);
// Over a CALL, CALL cc, RST or repeating block instruction: runs until the instruction behind it
// with the stack back where it was, or one word below (a called helper may leave a frame pointer
// pushed, as SDCC's entry helper does); a recursion inside does not stop it. Any other is a step.
bool DebugStepOver();
// Runs until a return leaves the current routine (SP above where it stands now).
bool DebugStepOut();
// Runs until the instruction at address is about to execute.
bool DebugRunTo(uint16_t address);
// Stops a running machine at the next instruction boundary (StopReason::Pause).
void DebugPause();

// Counts stops; poll it from the GUI thread to notice a new one (cheap, any thread).
uint64_t DebugStopSerial();
// True when the machine stands still: stopped by the debugger, or paused, or its threads not
// running; info (when given) tells the last stop. The machine may still be finishing its step for
// a moment after DebugStopSerial moved: wait for this before reading registers.
bool DebugStanding(StopInfo* info = nullptr);

// ---- Registers and memory -----------------------------------------------------------------------

struct DebugRegisters {
    uint16_t af, bc, de, hl, ix, iy, sp, pc;
    uint16_t af_, bc_, de_, hl_;
    uint8_t i, r; // r: the LD A,R generator's last value is not kept; reads 0, writes ignored
    bool iff1, iff2;
    uint8_t im;
    bool halted;
};
bool DebugReadRegisters(DebugRegisters& r);
bool DebugWriteRegisters(const DebugRegisters& r);
// One register by name (RegisterTable's, as FindRegister finds it); false for an unknown name, a
// value too wide for it, or a running machine.
bool DebugGetRegister(const std::string& name, uint32_t& value);
bool DebugSetRegister(const std::string& name, uint32_t value);

// Reading is allowed at any time (a running machine gives a snapshot byte by byte).
void DebugReadMemory(uint16_t address, uint8_t* out, size_t length);
// Writes wrap past 0xFFFF; the ROM area is written too (as the processor could).
bool DebugWriteMemory(uint16_t address, const uint8_t* data, size_t length);

// The last PCs executed while attached, oldest first (at most PcHistorySize).
constexpr size_t PcHistorySize = 256;
std::vector<uint16_t> DebugPcHistory();

// A line per executed instruction while attached ("0x1234  3E 05        LD A,0x05"); an empty
// path ends it. The file is a plain file or a new one, opened without following a link or
// blocking, and never one of the program's own files (ROM images, font, settings); it is emptied
// once accepted. False, with error saying why, when it is refused or cannot be opened, or when the
// last lines of the trace it ends could not be written (the new one is not started then). The
// trace ends by itself when a write fails or when the next line would take it past max_bytes.
constexpr uint64_t DefaultTraceBytes = 256ull << 20;
bool DebugTraceTo(const std::string& path, std::string* error = nullptr,
                  uint64_t max_bytes = DefaultTraceBytes);

// How a trace ended by itself: after its last whole line within the limit (full), or on a write
// error (error, an errno value). True once per such end, the end then taken.
struct TraceEnd {
    std::string path;
    uint64_t bytes = 0; // lines written before the end
    int error = 0;
    bool full = false;
};
bool DebugTraceEnded(TraceEnd& end);

// Writes the trace's buffered lines to its file, so it can be read while the trace goes on.
void DebugTraceFlush();

// ---- Disassembly and symbols --------------------------------------------------------------------

struct DisassemblyLine {
    uint16_t address;
    std::string hex;    // the instruction's bytes, "DD 7E 05"
    std::string text;   // "LD A,(IX+0x05)"
    std::string symbol; // the symbol at address, or empty
};
std::vector<DisassemblyLine> DebugDisassemble(uint16_t address, size_t count);

struct SymbolLoadReport {
    size_t loaded = 0;
    size_t skipped = 0; // lines that were neither a symbol, blank nor a comment
    std::string error;  // the file could not be read
};
// Lines "NAME = 0xADDR", "NAME = ADDR" (decimal), "NAME EQU 0xADDR", "NAME EQU 1234H" or
// "NAME EQU $1234"; blank lines and lines starting with ';', '#' or "//" pass; anything else is
// skipped and counted. A name loaded again takes the new address. False when unreadable, not a
// plain file, or larger than 64 MB.
bool DebugLoadSymbols(const std::string& path, SymbolLoadReport* report = nullptr);
void DebugClearSymbols();
// The symbols of our own ROM, written by the ROM build beside the images (basic.rom.sym): loaded
// from folder (else from the installed images) when folder's basic.rom is the one they describe
// (the file names it by a hash). False with report->error otherwise (no file, or a basic.rom of
// another origin).
bool DebugLoadRomSymbols(const std::string& folder, SymbolLoadReport* report = nullptr);
bool DebugSymbolAddress(const std::string& name, uint16_t& address); // case-sensitive
// The symbol at address exactly, or empty.
std::string DebugSymbolAt(uint16_t address);
// "NAME" or "NAME+0x12" for the nearest symbol at or below address (within 0x100), or empty.
std::string DebugSymbolize(uint16_t address);
size_t DebugSymbolCount();

// ---- The free BASIC -----------------------------------------------------------------------------
//
// These read the free BASIC's own structures through its symbols (loaded with DebugLoadRomSymbols
// or a file that names them), so they work only with our ROM: with another BASIC they answer an
// error.

// Adds an execution breakpoint that fires when the BASIC starts to execute program line `line`:
// the machine stops at the entry of the interpreter's statement routine, about to run the line's
// first statement (again at every pass of a loop). Returns the id, or 0 with error.
int DebugBasicBreak(uint32_t line, std::string* error = nullptr);
// The line the BASIC is executing, or -1 (direct mode, not running, or unknown).
int32_t DebugBasicCurrentLine();

struct BasicVariable {
    std::string name;  // as the program spells it: "A", "B1", "I%", "N$", "X()" for an array
    std::string value; // "12", "-0.5", "\"HELLO\"", an array as "(10,3): 1, 2, 0, ..."
};
// The program's variables: numbers and integers that are not 0 (the BASIC keeps every name's
// number, so an unused one cannot be told from a 0), strings and arrays that exist; by name, then
// number, integer, string. False with error when the BASIC's symbols are not loaded or its tables
// look damaged (nothing is read past the variable area).
bool DebugBasicVariables(std::vector<BasicVariable>& out, std::string* error = nullptr);
// The program in memory as LIST shows it, as UTF-8 text, a line end after each line (the
// currency sign as `$`, the Swedish letters as themselves, as in a program file). False with error
// when the symbols are not loaded or a line record is out of place (nothing is read past the
// program area).
bool DebugBasicProgram(std::string& out, std::string* error = nullptr);
