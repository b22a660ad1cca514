// Frame and screen dumps for tests and the headless runner.
#include "display/display.h"
#include "machine/memory.h"

#include <cstdio>

int WriteFramePbm(const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return 0;
    bool ok = std::fprintf(f, "P4\n%d %d\n", FramePixels, FrameLines) > 0;
    uint8_t line[FramePixelBytes];
    for (int y = 0; y < FrameLines && ok; ++y) {
        // PBM's 1 is black, the frame's 1 is white.
        for (int i = 0; i < FramePixelBytes; ++i)
            line[i] = uint8_t(~FrameBitmap[y][i]);
        ok = std::fwrite(line, 1, sizeof line, f) == sizeof line;
    }
    if (std::fclose(f) != 0) ok = false;
    return ok ? 1 : 0;
}

void ReadScreenText(char text[ScreenRows][ScreenColumns + 1]) {
    for (int r = 0; r < ScreenRows; ++r) {
        for (int c = 0; c < ScreenColumns; ++c)
            text[r][c] = char(ReadMemoryShared(uint16_t(RowAddressTable[r] + c)) & 0x7F);
        text[r][ScreenColumns] = 0;
    }
}
