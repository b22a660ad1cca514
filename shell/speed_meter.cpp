#include "shell/speed_meter.h"

void SpeedMeter::Add(double seconds, uint64_t instructions, uint64_t tstates) {
    if (!samples_.empty()) {
        const Sample& last = samples_.back();
        if (instructions < last.instructions || tstates < last.tstates || seconds < last.seconds)
            samples_.clear();
    }
    samples_.push_back({seconds, instructions, tstates});
    // Keep the newest sample at least a second old, so the window always spans a second.
    while (samples_.size() > 2 && seconds - samples_[1].seconds >= 1.0)
        samples_.pop_front();
}

bool SpeedMeter::Figure(SpeedFigure& figure) const {
    if (samples_.size() < 2) return false;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const double seconds = last.seconds - first.seconds;
    if (seconds <= 0) return false;
    figure.percent =
        double(last.tstates - first.tstates) / seconds / RealAbc80TstatesPerSecond * 100;
    figure.mips = double(last.instructions - first.instructions) / seconds / 1e6;
    return true;
}
