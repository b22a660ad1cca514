// Rewind: the machine's last minute, kept as states taken once a second of its own time (50 of
// its ticks), so a front end can step back through it. Always on; at most RewindBudgetBytes of
// states are kept, the oldest dropped first. Host files are not rewound: their slots stay as they
// are when the machine steps back.
//
// Call from the front end's thread (the one that saves and loads states), like system/state.h.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint64_t RewindTicksApart = 50; // one second of the machine's time
constexpr size_t RewindStates = 60;       // the last minute
constexpr size_t RewindBudgetBytes = 5u << 20;

// Forgets every state (a new machine: boot, power cycle, a state loaded from a file).
void RewindClear();
// Takes a state when the machine has run a second since the last one (or none is kept). Cheap
// when it is not yet time; call it often (every frame, or between ticks).
void RewindPoll();
// Ticks of the machine's time before RewindPoll takes the next state (0: at the next call).
uint64_t RewindTicksUntilDue();
// Restores the newest kept state older than the machine now and forgets those after it; false
// when there is none. The machine keeps its pause as it was.
bool RewindStepBack();
// What is kept: states, their bytes, and how far back the oldest goes in ticks.
size_t RewindCount();
size_t RewindBytes();
uint64_t RewindSpanTicks();
