// Placeholder until the CB table exists.
#include "cpu/processor.h"
void ExecuteCbInstruction() {}
