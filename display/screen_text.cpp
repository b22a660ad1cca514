// The screen as text, for the headless runner, the shell's copy and the tests.
#include "display/display.h"
#include "machine/memory.h"

#include "machine/charmap.h"

#include <algorithm>

void ReadScreenText(char text[ScreenRows][ScreenColumns + 1]) {
    for (int r = 0; r < ScreenRows; ++r) {
        for (int c = 0; c < ScreenColumns; ++c)
            text[r][c] = char(ReadMemoryShared(uint16_t(RowAddressTable[r] + c)) & 0x7F);
        text[r][ScreenColumns] = 0;
    }
}

std::string ScreenRowText(const char (&text)[ScreenRows][ScreenColumns + 1], int r, int left,
                          int right) {
    std::string row;
    bool mosaic = false; // a row's set follows its control codes from its first column
    for (int c = 0; c <= right; c++) {
        uint8_t m = uint8_t(text[r][c]);
        if (IsControlCode(m)) mosaic = (m & 0x10) != 0;
        if (c >= left) AppendUtf8(row, mosaic ? MosaicCellCharacter(m) : TextCellCharacter(m));
    }
    row.erase(row.find_last_not_of(' ') + 1);
    return row;
}

std::string ScreenTextRect(int top, int left, int bottom, int right) {
    top = std::clamp(top, 0, ScreenRows - 1);
    bottom = std::clamp(bottom, top, ScreenRows - 1);
    left = std::clamp(left, 0, ScreenColumns - 1);
    right = std::clamp(right, left, ScreenColumns - 1);
    char text[ScreenRows][ScreenColumns + 1];
    ReadScreenText(text);
    std::string out;
    for (int r = top; r <= bottom; r++) {
        out += ScreenRowText(text, r, left, right);
        if (r < bottom) out += '\n';
    }
    return out;
}

std::string ScreenAsText() {
    return ScreenTextRect(0, 0, ScreenRows - 1, ScreenColumns - 1) + '\n';
}
