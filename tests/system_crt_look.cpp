// The CRT look at the scales a window shows: lit pixels stay whole and crisp, each pixel row ends
// in a darker scanline gap (given room for one), and black beside a lit pixel glows a little.
#include "display/display.h"
#include "system/crt_look.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

uint32_t Brightness(uint32_t c) { return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF); }

TEST(SystemCrtLook, CrispScanlinesAndGlowAtEveryScale) {
    uint8_t frame[FrameLines][FrameLineBytes] = {};
    frame[100][10] = 0x80; // one lit pixel at (80, 100)
    const int x = 80, y = 100;
    const struct { int fx, fy; } scales[] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 5}, {8, 6}};
    for (const auto& s : scales) {
        const size_t stride = size_t(FramePixels) * s.fx + 3; // rows may be wider than the picture
        std::vector<uint32_t> out(stride * FrameLines * s.fy, 0);
        CrtCompose(frame, s.fx, s.fy, out.data(), stride);
        auto at = [&](int px, int py) { return out[size_t(py) * stride + size_t(px)]; };
        const uint32_t lit = at(x * s.fx, y * s.fy);
        const uint32_t dark = at(0, 0);
        const uint32_t beside = at((x + 1) * s.fx, y * s.fy);
        EXPECT_GT(Brightness(lit), 600u) << s.fx << "x" << s.fy;
        EXPECT_LT(Brightness(dark), 40u) << s.fx << "x" << s.fy;
        EXPECT_GT(Brightness(beside), Brightness(dark)) << "glow, " << s.fx << "x" << s.fy;
        EXPECT_LT(Brightness(beside), Brightness(lit) / 2) << "soft, " << s.fx << "x" << s.fy;
        // Crisp: every device pixel across a lit pixel's row is the same; the next one is not.
        for (int i = 0; i < s.fx; ++i)
            EXPECT_EQ(at(x * s.fx + i, y * s.fy), lit) << s.fx << "x" << s.fy;
        // The gap: the pixel row's last device row is darker, when there is more than one.
        const uint32_t gap = at(x * s.fx, y * s.fy + s.fy - 1);
        if (s.fy > 1) {
            EXPECT_LT(Brightness(gap), Brightness(lit)) << s.fx << "x" << s.fy;
        }
        // Only the picture is drawn: the rows' extra pixels are left as they were.
        EXPECT_EQ(at(FramePixels * s.fx, 0), 0u);
        // Glow reaches the neighbours only: two pixels away is black again.
        EXPECT_EQ(at((x + 2) * s.fx, y * s.fy), dark) << s.fx << "x" << s.fy;
    }
}

} // namespace
