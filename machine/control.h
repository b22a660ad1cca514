// The control device: ControlFlags, the word through which the timer, the keyboard, the buttons
// and the debugger talk to the ProcessorThread, and InterruptBusByte, the byte an interrupting
// device puts on the data bus. Both, their bits (TICK KEY HALTED RESET QUIT PAUSE DEBUG) and their
// accessors are declared by the bus (cpu/bus.h), which holds the table of who sets and clears each
// bit; control.cpp defines them.
#pragma once

#include "cpu/bus.h"
