#include "machine/control.h"

std::atomic<uint32_t> ControlFlags{0};
uint8_t InterruptBusByte;
