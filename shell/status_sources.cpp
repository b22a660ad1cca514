#include "shell/status_sources.h"

#include "cpu/processor.h"
#include "machine/host_files.h"

bool ReadSpeedSample(uint64_t& instructions, uint64_t& tstates) {
    const ProcessorCounts counts = ReadProcessorCounts();
    instructions = counts.instructions;
    tstates = counts.tstates;
    return true;
}

bool ReadHostFileWarning(uint32_t& count, QString& text) {
    count = HostFileWarningCount();
    HostFileWarning w;
    if (count == 0 || !ReadLatestHostFileWarning(w)) return false;
    text =
        QString("Cannot write %1: %2").arg(QString::fromUtf8(w.path), QString::fromUtf8(w.reason));
    return true;
}
