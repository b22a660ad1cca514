// The render event and the RenderThread body, run on real threads.
#include "display/render_event.h"
#include "display_reference.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// True once a Wait has looked, found the event clear and gone to sleep.
bool WaiterAsleep(RenderEvent& event) {
    for (int i = 0; i < 10000 && !event.Idle(); ++i)
        std::this_thread::sleep_for(1ms);
    return event.Idle();
}

TEST(RenderEventThread, CloseReleasesAWaiterAndStays) {
    RenderEvent event;
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.Wait() ? 1 : 0; });
    EXPECT_TRUE(WaiterAsleep(event)) << "Wait never slept on a clear event";
    EXPECT_EQ(result.load(), -1) << "Wait returned with nothing signalled";
    event.Close();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    event.Signal();
    EXPECT_FALSE(event.Wait()) << "a closed event stays closed";
}

// The event is auto-reset and keeps no count: two signals before a wait wake it once.
TEST(RenderEventThread, SignalsCollapseIntoOneWakeUp) {
    RenderEvent event;
    event.Signal();
    event.Signal();
    EXPECT_TRUE(event.Wait());
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.Wait() ? 1 : 0; });
    EXPECT_TRUE(WaiterAsleep(event)) << "the second signal was kept";
    EXPECT_EQ(result.load(), -1) << "the second signal was kept";
    event.Signal();
    waiter.join();
    EXPECT_EQ(result.load(), 1);
}

struct Presented {
    std::atomic<int> frames{0};
    std::atomic<bool> fill_written{false};
};

void CountFrame(const uint8_t (*bitmap)[FrameLineBytes], void* context) {
    auto* seen = static_cast<Presented*>(context);
    if (bitmap != FrameBitmap) seen->fill_written = true;
    for (int y = 0; y < FrameLines; ++y)
        if (bitmap[y][30] != 0xA5 || bitmap[y][31] != 0xA5) seen->fill_written = true;
    seen->frames.fetch_add(1, std::memory_order_release);
}

bool WaitForFrames(const Presented& seen, int frames) {
    for (int i = 0; i < 2000 && seen.frames.load(std::memory_order_acquire) < frames; ++i)
        std::this_thread::sleep_for(1ms);
    return seen.frames.load(std::memory_order_acquire) >= frames;
}

// Frames are drawn while another thread keeps rewriting screen memory; once the writer stops, the
// next frame shows the screen exactly, and closing the event ends the thread.
TEST(RenderThread, RendersWhileTheProcessorWritesThenStops) {
    ResetMachineForTest();
    ref::Font font = ref::MakeFont(7, true);
    ASSERT_TRUE(ref::InstallFont(font));
    ref::MarkFill();
    frame_count = 0;

    RenderEvent event;
    Presented seen;
    std::thread renderer(RenderThreadBody, std::ref(event), CountFrame, &seen);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        uint32_t seed = 1;
        while (!stop.load(std::memory_order_relaxed)) {
            seed = seed * 1664525u + 1013904223u;
            WriteByte(uint16_t(0x7C00 + (seed >> 22)), uint8_t(seed >> 8));
        }
    });
    const int busy_frames = 20;
    for (int i = 1; i <= busy_frames; ++i) {
        event.Signal();
        ASSERT_TRUE(WaitForFrames(seen, i)) << "frame " << i << " never came";
    }
    stop = true;
    writer.join();

    ref::Grid g;
    for (int r = 0; r < 24; ++r)
        for (int c = 0; c < 40; ++c)
            g[r][c] = ReadMemoryShared(ref::CellAddress(r, c));
    event.Signal();
    ASSERT_TRUE(WaitForFrames(seen, busy_frames + 1));
    event.Close();
    renderer.join();

    EXPECT_EQ(frame_count, uint32_t(busy_frames + 1));
    EXPECT_EQ(seen.frames.load(), busy_frames + 1);
    EXPECT_FALSE(seen.fill_written.load());
    // The last frame was drawn with frame_count 20: bit 3 clear, the plain phase.
    EXPECT_EQ(ref::CompareFrame(ref::ReferencePicture(font, g, (busy_frames & 8) != 0)), "");
}

// A frame between ticks (the echo of a key) is drawn like a tick's but is no tick of the blink's
// count: the cursor keeps its phase.
TEST(RenderThread, RedrawsBetweenTicksKeepTheBlinkCount) {
    ResetMachineForTest();
    ASSERT_TRUE(ref::InstallFont(ref::MakeFont(7, true)));
    frame_count = 0;
    RenderEvent event;
    Presented seen;
    std::thread renderer(RenderThreadBody, std::ref(event), CountFrame, &seen);
    const bool ticks[] = {true, false, false, true, false, true, false};
    int drawn = 0;
    for (bool tick : ticks) {
        if (tick)
            event.Signal();
        else
            event.Redraw();
        ASSERT_TRUE(WaitForFrames(seen, ++drawn)) << "frame " << drawn << " never came";
    }
    event.Close();
    renderer.join();
    EXPECT_EQ(seen.frames.load(), 7);
    EXPECT_EQ(frame_count, 3u) << "only the ticks count";
}

TEST(RenderThread, ClosedBeforeAnyTickDrawsNothing) {
    frame_count = 0;
    RenderEvent event;
    Presented seen;
    std::thread renderer(RenderThreadBody, std::ref(event), CountFrame, &seen);
    event.Close();
    renderer.join();
    EXPECT_EQ(frame_count, 0u);
    EXPECT_EQ(seen.frames.load(), 0);
}

} // namespace
