// Key-to-screen latency of the desktop program, as a user sees it: a key pressed through the X
// server's XTest extension, and the window's pixels read every half millisecond until the typed
// character shows in the cursor's cell. Run by bench/key_latency.sh under a private Xvfb server.
//
// usage: lunabrik_key_latency X Y WIDTH HEIGHT KEYS
// The rectangle (root coordinates) holds the program's picture with the BASIC waiting for input at
// the start of an empty line. The tool first watches the cursor blink to find its cell, then types
// KEYS letters along the line, one at a time at random moments, and prints each latency in
// milliseconds, then the median, the 90th percentile and the worst.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using FakeKey = int (*)(Display*, unsigned int, int, unsigned long);

Display* X = nullptr;
Window Root;

struct Box {
    int x, y, w, h;
};

// A grey level per pixel of the rectangle.
std::vector<uint8_t> Grab(const Box& b) {
    std::vector<uint8_t> pixels(size_t(b.w) * size_t(b.h));
    XImage* image = XGetImage(X, Root, b.x, b.y, unsigned(b.w), unsigned(b.h), AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x)
            pixels[size_t(y) * size_t(b.w) + size_t(x)] = uint8_t(XGetPixel(image, x, y) >> 8);
    XDestroyImage(image);
    return pixels;
}

// True when the cell shows both dark and light pixels: a character, not the cursor's blank or
// block.
bool Mixed(const std::vector<uint8_t>& cell) {
    bool dark = false, light = false;
    for (uint8_t p : cell) {
        dark = dark || p < 64;
        light = light || p > 192;
    }
    return dark && light;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT KEYS\n", argv[0]);
        return 2;
    }
    const Box area{std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])};
    const int keys = std::atoi(argv[5]);
    X = XOpenDisplay(nullptr);
    if (!X) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    Root = DefaultRootWindow(X);
    // XTest from its library at run time: only the library is needed, not its headers.
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    auto fake = xtst ? reinterpret_cast<FakeKey>(dlsym(xtst, "XTestFakeKeyEvent")) : nullptr;
    if (!fake) {
        std::fprintf(stderr, "libXtst.so.6 is missing\n");
        return 1;
    }

    // The cursor's cell: what changes while nothing is typed is the blink.
    const std::vector<uint8_t> first = Grab(area);
    Box cell{0, 0, 0, 0};
    const auto give_up = Clock::now() + std::chrono::seconds(5);
    while (cell.w == 0 && Clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::vector<uint8_t> now = Grab(area);
        int x0 = area.w, y0 = area.h, x1 = -1, y1 = -1;
        for (int y = 0; y < area.h; ++y)
            for (int x = 0; x < area.w; ++x)
                if (now[size_t(y) * size_t(area.w) + size_t(x)] !=
                    first[size_t(y) * size_t(area.w) + size_t(x)]) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y);
                    x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        if (x1 >= 0) cell = {area.x + x0, area.y + y0, x1 - x0 + 1, y1 - y0 + 1};
    }
    if (cell.w == 0) {
        std::fprintf(stderr, "no blinking cursor in the area\n");
        return 1;
    }

    const KeySym letters[] = {XK_m, XK_w, XK_a, XK_h, XK_n};
    std::mt19937 random(12345);
    std::vector<double> ms;
    for (int k = 0; k < keys; ++k) {
        // A random moment, so keys fall anywhere in the 20 ms tick.
        std::this_thread::sleep_for(std::chrono::microseconds(40000 + random() % 60000));
        const unsigned code = XKeysymToKeycode(X, letters[k % 5]);
        fake(X, code, True, CurrentTime);
        XFlush(X);
        const auto pressed = Clock::now();
        bool seen = false;
        while (Clock::now() - pressed < std::chrono::seconds(2)) {
            if (Mixed(Grab(cell))) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const double latency = Seconds(Clock::now() - pressed) * 1000;
        fake(X, code, False, CurrentTime);
        XFlush(X);
        if (!seen) {
            std::fprintf(stderr, "key %d never showed\n", k);
            return 1;
        }
        ms.push_back(latency);
        std::printf("%.1f\n", latency);
        cell.x += cell.w; // the next cell along the line
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * ms.size()))]; };
    std::printf("median %.1f ms, 90th percentile %.1f ms, worst %.1f ms (%zu keys)\n", at(0.5),
                at(0.9), ms.back(), ms.size());
    return 0;
}
