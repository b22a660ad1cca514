// Placeholder until the prefixed tables exist.
#include "cpu/processor.h"
void ExecuteCbInstruction() {}
void ExecuteIndexInstruction(uint16_t&) {}
void ExecuteEdInstruction() {}
