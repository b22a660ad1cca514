// What the four instruction tables share: the handler parameters, the one stall, and the check
// that a table lists 256 opcodes in order.
//
// A table is an X-macro list, one line per opcode in order: X(opcode, T-states, handler,
// operands...). The T-states are the instruction's documented Zilog count, prefix bytes included;
// for a conditional branch or a repeating block instruction they are the count when the branch is
// not taken or the block ends, and the handler adds the difference when it does more. The operands
// become the handler's template arguments, so nothing is decoded at run time. The loop expands each
// list into a switch whose cases call the handlers inline.
#pragma once

#include <cstddef>
#include <cstdint>

#define LB_INLINE [[gnu::always_inline]] inline

// Every handler takes the loop's program counter pc (a host register, behind the byte that
// selected the handler) and the loop's T-state count t by reference.
#define LB_PC [[maybe_unused]] uint16_t &pc, [[maybe_unused]] uint64_t &t

// Counts a stall at the prefix address (cpu/processor.cpp): out of line, so the loop pays
// nothing for the watch on the instructions that do execute.
[[gnu::noinline, gnu::cold]] void NoteStall(uint16_t prefix);

// An opcode this machine does not execute: PC goes back onto the prefix byte, back bytes before
// pc, and nothing else changes but the stall count. The index tables pass their register or
// address too.
template <int back, typename... Unused> LB_INLINE void STALL(LB_PC, Unused&...) {
    pc = uint16_t(pc - back);
    NoteStall(pc);
}

// The handler call of one table line: handler<operands...>(arguments).
#define LB_CALL(handler, ...) handler __VA_OPT__(<__VA_ARGS__>)

template <size_t N> constexpr bool TableInOpcodeOrder(const int (&codes)[N]) {
    if (N != 256) return false;
    for (size_t i = 0; i < N; ++i)
        if (codes[i] != int(i)) return false;
    return true;
}
#define LB_CODE_OF(code, ...) code,
#define LB_CHECK_TABLE(TABLE)                                                                      \
    static_assert(                                                                                 \
        [] {                                                                                       \
            constexpr int codes[] = {TABLE(LB_CODE_OF)};                                           \
            return TableInOpcodeOrder(codes);                                                      \
        }(),                                                                                       \
        #TABLE " must list the 256 opcodes 0x00-0xFF in order")
