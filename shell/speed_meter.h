// The emulated speed over the last second, from samples of the processor's running counts.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

constexpr double RealAbc80TstatesPerSecond = 3000000.0;

struct SpeedFigure {
    double percent; // T-states per second as a share of a real ABC80's 3 MHz
    double mips;    // millions of instructions per second
};

class SpeedMeter {
  public:
    // A sample taken at `seconds` (any steady clock). Counts that go backwards (a restart of the
    // counters) start the window afresh.
    void Add(double seconds, uint64_t instructions, uint64_t tstates);
    // The speed between the oldest sample of the last second and the newest; false with fewer
    // than two samples or no time between them.
    bool Figure(SpeedFigure& figure) const;
    void Clear() { samples_.clear(); }

  private:
    struct Sample {
        double seconds;
        uint64_t instructions;
        uint64_t tstates;
    };
    std::deque<Sample> samples_;
};

// The speed as the status bar shows it, rounded so it reads steadily: a share of a real ABC80 in
// percent up to ten times ("2.5 %", "100 %", "450 %"), then a multiple to two figures ("×15",
// "×1,500").
std::string SpeedText(double percent);
