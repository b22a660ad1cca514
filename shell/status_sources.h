// Where the status bar's figures come from: counters the core publishes for the window thread.
// Each returns false while its source is not available; the status bar then hides the field.
#pragma once

#include <QString>

#include <cstdint>

// Instructions and T-states executed since the start, as the processor published them last.
bool ReadSpeedSample(uint64_t& instructions, uint64_t& tstates);

// Host file write warnings so far, and the latest one as text (file name and error).
bool ReadHostFileWarning(uint32_t& count, QString& text);
