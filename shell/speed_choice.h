// The speeds a user picks from, in the Speed menu and the Config dialog: a share of a real ABC80
// at its real pace, or as fast as possible. Lunabrik.cfg keeps its waitstates as ever (-1 a real
// pace, 0 as fast as possible); how fast a real pace runs, when not 100 %, is kept in the
// preferences. A waitstates of N > 0 idle iterations, read from the file, is shown as what it is
// and kept until another speed is chosen.
#pragma once

#include <QString>

#include <cstdint>

// The shares of a real ABC80 on offer, in percent.
constexpr int SpeedPercents[] = {25, 50, 100, 200, 400};
constexpr int FastestSpeed = 0;         // the choice "as fast as possible"
constexpr int IdleIterationsSpeed = -1; // Lunabrik.cfg's N idle iterations per instruction

// The speed the machine follows now, turbo aside: a percent, FastestSpeed or IdleIterationsSpeed.
int CurrentSpeed();
// Puts a speed in force for good: Lunabrik.cfg's waitstates (-1 or 0; written by the caller when
// this returns true, as it changed), the percent in the preferences and the machine's pace. A
// pace named on the command line gives way to it.
bool ChooseSpeed(int speed);
// At start: the preferences' percent for a real pace.
void ApplySavedSpeed();
// "25 %", "100 % (a real ABC80)", "As fast as possible", "1000 idle iterations per instruction".
QString SpeedName(int speed, int32_t waitstates);
