#include "shell/status_sources.h"

#include "system/system.h"

bool ReadSpeedSample(uint64_t& instructions, uint64_t& tstates) {
    const SystemCounts counts = SystemReadCounts();
    instructions = counts.instructions;
    tstates = counts.tstates;
    return true;
}

bool ReadHostFileWarning(uint32_t& count, QString& text) {
    std::string latest;
    count = SystemHostFileWarnings(latest);
    if (count == 0) return false;
    text = QString::fromStdString(latest);
    return true;
}
