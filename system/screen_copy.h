// Copying the screen as text that types back in. The ROM's screen driver keeps no record of which
// rows belong together: when a line it prints or edits reaches the 40th column, it simply goes on
// at the start of the next row. So a row whose last cell shows a character (in the text set) is
// taken to continue on the next row, and a copy of whole rows joins such rows into one line: a
// BASIC line that wrapped on the screen copies as one line, and a copied listing pastes back as
// the same program. A line exactly 40 characters long is followed by the empty row the ROM's new
// line leaves behind it, which joins as nothing.
#pragma once

#include <string>

// Grows rows [top, bottom] (0-23, top <= bottom) to whole logical lines: up while the row above
// continues into top, down while bottom continues into the next row.
void SystemLogicalRows(int& top, int& bottom);

// The text of the cells in rows top-bottom and columns left-right (inclusive, clamped to the
// screen), as UTF-8 with the Swedish letters as themselves and mosaic as sextants, trailing blanks
// of each line dropped, a newline between lines (none after the last). A rectangle that spans
// whole rows (columns 0-39) is grown to whole logical lines and each one comes out as one line;
// any other rectangle gives its rows as they are.
std::string SystemCopyText(int top, int left, int bottom, int right);

// The whole screen by logical lines, each ended by a newline.
std::string SystemCopyScreen();
