#include "system/screen_copy.h"

#include "display/display.h"

#include <algorithm>

namespace {

// True when row r's last cell shows a character of the text set: the ROM's driver went on to the
// next row there. Blanks (the cursor's cell included) and mosaic cells end the line.
bool Continues(const char (&text)[ScreenRows][ScreenColumns + 1], int r) {
    if (r < 0 || r >= ScreenRows - 1) return false;
    bool mosaic = false;
    for (int c = 0; c < ScreenColumns; ++c) {
        const uint8_t m = uint8_t(text[r][c]);
        if (IsControlCode(m)) mosaic = (m & 0x10) != 0;
    }
    const uint8_t last = uint8_t(text[r][ScreenColumns - 1]);
    return !mosaic && last > ' ' && !IsControlCode(last);
}

void Grow(const char (&text)[ScreenRows][ScreenColumns + 1], int& top, int& bottom) {
    while (top > 0 && Continues(text, top - 1))
        --top;
    while (bottom < ScreenRows - 1 && Continues(text, bottom))
        ++bottom;
}

} // namespace

void SystemLogicalRows(int& top, int& bottom) {
    char text[ScreenRows][ScreenColumns + 1];
    ReadScreenText(text);
    top = std::clamp(top, 0, ScreenRows - 1);
    bottom = std::clamp(bottom, top, ScreenRows - 1);
    Grow(text, top, bottom);
}

std::string SystemCopyText(int top, int left, int bottom, int right) {
    // A rectangle that is not whole rows copies as it stands.
    if (left > 0 || right < ScreenColumns - 1) return ScreenTextRect(top, left, bottom, right);
    top = std::clamp(top, 0, ScreenRows - 1);
    bottom = std::clamp(bottom, top, ScreenRows - 1);
    char text[ScreenRows][ScreenColumns + 1];
    ReadScreenText(text);
    Grow(text, top, bottom);
    std::string out;
    for (int r = top; r <= bottom; ++r) {
        out += ScreenRowText(text, r, 0, ScreenColumns - 1);
        if (r < bottom && !Continues(text, r)) out += '\n';
    }
    return out;
}

std::string SystemCopyScreen() {
    return SystemCopyText(0, 0, ScreenRows - 1, ScreenColumns - 1) + '\n';
}
