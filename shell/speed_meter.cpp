#include "shell/speed_meter.h"

#include <cmath>
#include <cstdio>

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

namespace {

// A whole number with a comma between groups of three digits.
std::string Grouped(long long n) {
    std::string digits = std::to_string(n);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(size_t(i), ",");
    return digits;
}

} // namespace

std::string SpeedText(double percent) {
    if (!(percent >= 0)) percent = 0;
    char text[32];
    if (percent < 9.95) {
        std::snprintf(text, sizeof text, "%.1f %%", percent);
        return text;
    }
    if (percent < 199.5) return Grouped(std::llround(percent)) + " %";
    if (percent < 995) return Grouped(std::llround(percent / 10) * 10) + " %";
    double times = percent / 100;
    // Two significant figures: 15, 150, 1,500, 15,000...
    const double unit = times < 100 ? 1 : std::pow(10.0, std::floor(std::log10(times)) - 1);
    return "\xC3\x97" + Grouped(std::llround(std::round(times / unit) * unit));
}
