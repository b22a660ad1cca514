// Placeholder until the ED table exists.
#include "cpu/processor.h"
void ExecuteEdInstruction() {}
