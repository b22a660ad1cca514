// Placeholder until the index table exists.
#include "cpu/processor.h"
void ExecuteIndexInstruction(uint16_t&) {}
