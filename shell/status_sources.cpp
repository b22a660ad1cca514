#include "shell/status_sources.h"

// Not yet published by the core: the fields stay hidden.
bool ReadSpeedSample(uint64_t&, uint64_t&) { return false; }

bool ReadHostFileWarning(uint32_t&, QString&) { return false; }
