// The screen as text, for the headless runner, the shell's copy and the tests.
#include "display/display.h"
#include "machine/memory.h"

#include "machine/charmap.h"

void ReadScreenText(char text[ScreenRows][ScreenColumns + 1]) {
    for (int r = 0; r < ScreenRows; ++r) {
        for (int c = 0; c < ScreenColumns; ++c)
            text[r][c] = char(ReadMemoryShared(uint16_t(RowAddressTable[r] + c)) & 0x7F);
        text[r][ScreenColumns] = 0;
    }
}

std::string ScreenAsText() {
    char text[ScreenRows][ScreenColumns + 1];
    ReadScreenText(text);
    std::string out;
    for (int r = 0; r < ScreenRows; r++) {
        std::string row;
        bool mosaic = false;
        for (int c = 0; c < ScreenColumns; c++) {
            uint8_t m = uint8_t(text[r][c]);
            if (IsControlCode(m)) mosaic = (m & 0x10) != 0;
            AppendUtf8(row, mosaic ? MosaicCellCharacter(m) : TextCellCharacter(m));
        }
        row.erase(row.find_last_not_of(' ') + 1);
        out += row;
        out += '\n';
    }
    return out;
}
