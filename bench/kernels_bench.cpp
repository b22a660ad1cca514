// Google Benchmark cases for the per-frame and per-event kernels: the frame renderer, the CRT
// look, a key press and release, and the flag rules the instruction handlers build on.

#include "cpu/flags.h"
#include "display/display.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "system/crt_look.h"
#include "system/state.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

// Builds the GlyphTable from a made-up font.bin written to a temporary folder: every glyph row
// different, so no column of the table is uniform.
bool BuildTestGlyphs() {
    char folder[] = "/tmp/lunabrik-bench-XXXXXX";
    if (!mkdtemp(folder)) return false;
    std::string font = std::string(folder) + "/font.bin";
    std::FILE* f = std::fopen(font.c_str(), "wb");
    if (!f) return false;
    uint32_t x = 0x12345678;
    for (int i = 0; i < FontFileSize; ++i) {
        x = x * 1103515245 + 12345;
        std::fputc(int(x >> 24) & 0xFC, f);
    }
    std::fclose(f);
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(folder) != 0) return false;
    int built = BuildCharacterGenerator();
    bool back = chdir(previous) == 0;
    std::remove(font.c_str());
    rmdir(folder);
    return built == 1 && back;
}

// A busy screen: text, rows switched to mosaic by control codes part way, blinking bytes, and the
// control codes themselves, in every row.
void FillTestScreen() {
    for (int r = 0; r < ScreenRows; ++r) {
        for (int c = 0; c < ScreenColumns; ++c) {
            uint8_t b = uint8_t(0x20 + (r * 7 + c * 3) % 0x5F); // printable text
            if (c == 10 + r % 5) b = 0x17;                      // mosaic from here
            if (c == 25) b = 0x02;                              // back to text
            if (c > 10 + r % 5 && c < 25) b = uint8_t(0x20 + (c * 11 + r) % 0x60); // mosaic
            if ((c + r) % 7 == 0 && c != 25) b |= 0x80;                            // blinking
            WriteByte(uint16_t(RowAddressTable[r] + c), b);
        }
    }
}

void BM_RenderFrame(benchmark::State& state) {
    if (!BuildTestGlyphs()) {
        state.SkipWithError("could not build the glyph table from a temporary font.bin");
        return;
    }
    FillTestScreen();
    for (auto _ : state) {
        frame_count += 4; // both blink phases in turn
        RenderFrame();
        benchmark::DoNotOptimize(FrameBitmap);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderFrame);

// The CRT look's picture of a busy frame, at scales (across x down) a window shows: 2x, 3x (the
// first start's on a 1080p screen), 4x, and the television aspect at k = 1 and 2. The window
// draws it once per changed frame: at most 50 times a second.
void BM_CrtCompose(benchmark::State& state) {
    if (!BuildTestGlyphs()) {
        state.SkipWithError("could not build the glyph table from a temporary font.bin");
        return;
    }
    FillTestScreen();
    RenderFrame();
    const int fx = int(state.range(0)), fy = int(state.range(1));
    std::vector<uint32_t> picture(size_t(FramePixels) * fx * FrameLines * fy);
    for (auto _ : state) {
        CrtCompose(FrameBitmap, fx, fy, picture.data(), size_t(FramePixels) * fx);
        benchmark::DoNotOptimize(picture.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CrtCompose)->Args({2, 2})->Args({3, 3})->Args({4, 4})->Args({4, 3})->Args({8, 6});

// Press and release of the A key (set-1 scan code 0x1E): tables, modifiers, port 56 and KEY.
void BM_KeyEventPressRelease(benchmark::State& state) {
    for (auto _ : state) {
        KeyEvent(0x1E, true);
        KeyEvent(0x1E, false);
        benchmark::ClobberMemory();
    }
    ClearControlFlags(KEY);
}
BENCHMARK(BM_KeyEventPressRelease);

// Rewind takes a state once a second of the machine's time while it runs, and steps back by
// restoring one: the cost of each with the machine stopped between deterministic ticks, and the
// bytes one state keeps (memory that does not compress: rewind stores states as they are).
void BM_RewindCaptureState(benchmark::State& state) {
    uint32_t x = 1;
    for (uint32_t a = 0x8000; a < MemorySize; ++a) {
        x = x * 1103515245u + 12345u;
        WriteByte(uint16_t(a), uint8_t(x >> 24));
    }
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> taken = CaptureStateBytes();
        bytes = taken.size();
        benchmark::DoNotOptimize(taken.data());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_RewindCaptureState);

void BM_RewindRestoreState(benchmark::State& state) {
    const std::vector<uint8_t> taken = CaptureStateBytes();
    for (auto _ : state)
        if (!RestoreStateBytes(taken).ok) state.SkipWithError("the state did not restore");
}
BENCHMARK(BM_RewindRestoreState);

// Each flag case runs its rule over all 256 values of one operand per iteration, every step fed by
// the registers the step before left, so the chain cannot be folded and the time per item is the
// latency of one rule.
template <typename Rule> void RunFlagRule(benchmark::State& state, Rule rule) {
    CpuState = {};
    for (auto _ : state) {
        for (unsigned v = 0; v < 256; ++v)
            rule(uint8_t(v));
        benchmark::DoNotOptimize(CpuState);
    }
    state.SetItemsProcessed(state.iterations() * 256);
}

void BM_Flags_AdcA(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) { AdcA(v); });
}
void BM_Flags_SbcA(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) { SbcA(v); });
}
void BM_Flags_CpA(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) {
        CpA(v);
        CpuState.A = uint8_t(CpuState.A + CpuState.F);
    });
}
void BM_Flags_XorA(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) { XorA(uint8_t(v + CpuState.F)); });
}
void BM_Flags_IncrementDecrement(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) {
        IncrementFlags(uint8_t(v + CpuState.F));
        DecrementFlags(uint8_t(v ^ CpuState.F));
    });
}
void BM_Flags_DecimalAdjust(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) {
        AddA(v);
        DecimalAdjust();
    });
}
void BM_Flags_Add16Sbc16(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) {
        Add16(CpuState.HL, uint16_t(v * 0x0101));
        unsigned x = CpuState.HL, y = uint16_t(v << 4);
        unsigned r = x - y - (CpuState.F & FLAG_C);
        CpuState.HL = uint16_t(r);
        Sbc16Flags(x, y, r);
    });
}
void BM_Flags_RotateShift(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) { CpuState.B = OpSRA(OpRL(uint8_t(v ^ CpuState.B))); });
}
void BM_Flags_BitTest(benchmark::State& state) {
    RunFlagRule(state, [](uint8_t v) { BitTest(uint8_t(v + CpuState.F), v & 7); });
}
BENCHMARK(BM_Flags_AdcA);
BENCHMARK(BM_Flags_SbcA);
BENCHMARK(BM_Flags_CpA);
BENCHMARK(BM_Flags_XorA);
BENCHMARK(BM_Flags_IncrementDecrement);
BENCHMARK(BM_Flags_DecimalAdjust);
BENCHMARK(BM_Flags_Add16Sbc16);
BENCHMARK(BM_Flags_RotateShift);
BENCHMARK(BM_Flags_BitTest);

} // namespace

BENCHMARK_MAIN();
