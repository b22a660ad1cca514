#include "cpu/processor.h"

#include "cpu/flags.h"
#include "cpu/main_table.h"
#include "machine/control.h"
#include "machine/settings.h"

#include <cstdlib>
#include <ctime>

CpuRegisters CpuState;

namespace {

// The HALTED spin runs flat out; on x86 a pause instruction keeps it kind to a sibling hyperthread.
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// How many idle iterations pass between looks at QUIT and RESET during a long pacing wait.
constexpr int32_t PacingPollInterval = 4096;

// Counts n down in a volatile counter, so the wait is neither removed nor shortened. A huge n must
// not freeze the program, so QUIT and RESET end the wait early.
[[gnu::noinline]] void PacingWait(int32_t n) {
    volatile int32_t counter = n;
    while (counter > 0) {
        counter = counter - 1;
        if ((counter & (PacingPollInterval - 1)) == 0 && (ReadControlFlags() & (QUIT | RESET)))
            return;
    }
}

LB_INLINE void Dispatch(uint8_t op, uint16_t& pc) {
    switch (op) {
#define LB_CASE(code, name)                                                                        \
    case code: name(pc); break;
        MAIN_TABLE(LB_CASE)
#undef LB_CASE
    }
}

// The poll: acts on the first bit that applies, in the order QUIT, RESET, TICK, HALTED, KEY, and
// looks again until the word is 0 or only a KEY that cannot be taken yet is left. Returns false
// on QUIT.
[[gnu::noinline]] bool Poll(uint32_t flags) {
    while (flags) {
        if (flags & QUIT) return false;
        if (flags & RESET) {
            ProcessorReset();
        } else if (flags & TICK) {
            NmiEntry();
            ClearControlFlags(TICK | HALTED);
        } else if (flags & HALTED) {
            SpinPause();
        } else { // KEY
            if (!CpuState.IFF1) break;
            InterruptAcceptance();
            ClearControlFlags(KEY);
        }
        flags = ReadControlFlags();
    }
    return true;
}

// One processor step on the loop's own copy of PC; CpuState.PC is brought up to date around the
// poll, which works on CpuState. Returns false on QUIT, with CpuState.PC current.
LB_INLINE bool Step(uint16_t& pc) {
    int32_t n = Waitstates();
    if (n > 0) [[unlikely]]
        PacingWait(n);
    uint32_t flags = ReadControlFlags();
    if (flags) [[unlikely]] {
        CpuState.PC = pc;
        if (!Poll(flags)) return false;
        pc = CpuState.PC;
    }
    Dispatch(FetchByte(pc), pc);
    return true;
}

} // namespace

void ProcessorReset() {
    auto& s = CpuState;
    s.PC = ResetAddress;
    s.I = 0;
    s.IFF1 = s.IFF2 = 0;
    s.IM = 0;
    ControlFlags.fetch_and(QUIT, std::memory_order_acq_rel);
    std::srand(unsigned(std::time(nullptr)));
}

void NmiEntry() {
    auto& s = CpuState;
    s.IFF2 = s.IFF1;
    s.IFF1 = 0;
    Push(s.PC);
    s.PC = NmiAddress;
}

void InterruptAcceptance() {
    auto& s = CpuState;
    switch (s.IM) {
    case 1:
        DisableInterrupts();
        Push(s.PC);
        s.PC = Mode1Address;
        break;
    case 2: {
        DisableInterrupts();
        Push(s.PC);
        uint16_t vector = uint16_t(s.I << 8 | 2 * ReadInterruptBusByte());
        s.PC = ReadWord(vector);
        break;
    }
    default: // mode 0: the request is dropped
        break;
    }
}

void ExecuteInstruction() {
    uint16_t pc = CpuState.PC;
    Dispatch(FetchByte(pc), pc);
    CpuState.PC = pc;
}

bool ProcessorStep() {
    uint16_t pc = CpuState.PC;
    if (!Step(pc)) return false;
    CpuState.PC = pc;
    return true;
}

int ProcessorThreadBody(void*) {
    uint16_t pc = CpuState.PC;
    while (Step(pc)) {
    }
    return 16;
}

// The same handlers as functions on CpuState.PC.
const Handler MainTable[256] = {
#define LB_ENTRY(code, name) [] { name(CpuState.PC); },
    MAIN_TABLE(LB_ENTRY)
#undef LB_ENTRY
};
