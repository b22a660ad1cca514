// Copying the screen by its logical lines: rows the ROM wrapped at the 40th column join into one
// line when whole rows are copied; any other rectangle copies its rows as they are.
#include "cpu/bus.h"
#include "display/display.h"
#include "system/screen_copy.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Puts rows on the screen from the top (the rest blank); each row's bytes as given, padded with
// blanks to 40 columns.
void Show(const std::vector<std::string>& rows) {
    ResetMachineForTest();
    for (int r = 0; r < ScreenRows; ++r) {
        const std::string row = r < int(rows.size()) ? rows[r] : "";
        for (int c = 0; c < ScreenColumns; ++c)
            WriteByte(uint16_t(RowAddressTable[r] + c),
                      c < int(row.size()) ? uint8_t(row[c]) : ' ');
    }
}

const std::string Full = "10 PRINT \"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"; // 40 characters
const std::string Full2 = "3456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"; // 40 characters

TEST(SystemScreenCopy, WholeRowsJoinWrappedLines) {
    ASSERT_EQ(Full.size(), 40u);
    ASSERT_EQ(Full2.size(), 40u);
    const struct {
        const char* what;
        std::vector<std::string> rows;
        int top, left, bottom, right;
        std::string copy;
    } cases[] = {
        {"a line over two rows",
         {"LIST", Full, "789\"", "READY"},
         0,
         0,
         3,
         39,
         "LIST\n" + Full + "789\"\nREADY"},
        {"a line over three rows", {Full, Full2, "X"}, 0, 0, 5, 39, Full + Full2 + "X\n\n\n"},
        {"a line of exactly 40 with the empty row behind it",
         {Full, "", "20 END"},
         0,
         0,
         2,
         39,
         Full + "\n20 END"},
        {"its second row alone takes in the first",
         {"LIST", Full, "789\""},
         2,
         0,
         2,
         39,
         Full + "789\""},
        {"its first row alone takes in the second",
         {"LIST", Full, "789\"", "READY"},
         1,
         0,
         1,
         39,
         Full + "789\""},
        {"a row ending in a blank does not continue",
         {Full.substr(0, 39), "NEXT"},
         0,
         0,
         1,
         39,
         Full.substr(0, 39) + "\nNEXT"},
        {"a row ending in mosaic does not continue",
         {"\x17" + std::string(38, ' ') + "\x7F", "NEXT"},
         0,
         0,
         1,
         39,
         std::string(39, ' ') + "\xE2\x96\x88\nNEXT"},
        {"a partial rectangle copies rows as they are",
         {"LIST", Full, "789\""},
         1,
         0,
         2,
         38,
         Full.substr(0, 39) + "\n789\""},
        {"the last row continues nowhere", {}, 23, 0, 23, 39, Full},
    };
    for (const auto& c : cases) {
        std::vector<std::string> rows = c.rows;
        if (rows.empty()) { // the last case: a full row at the bottom
            rows.resize(ScreenRows);
            rows.back() = Full;
        }
        Show(rows);
        EXPECT_EQ(SystemCopyText(c.top, c.left, c.bottom, c.right), c.copy) << c.what;
    }
}

TEST(SystemScreenCopy, LogicalRowsAndTheWholeScreen) {
    Show({"LIST", Full, Full2, "X", "READY"});
    int top = 2, bottom = 2;
    SystemLogicalRows(top, bottom);
    EXPECT_EQ(top, 1);
    EXPECT_EQ(bottom, 3);
    top = bottom = 4;
    SystemLogicalRows(top, bottom);
    EXPECT_EQ(top, 4);
    EXPECT_EQ(bottom, 4);
    EXPECT_EQ(SystemCopyScreen(), "LIST\n" + Full + Full2 + "X\nREADY" + std::string(20, '\n'));
}

} // namespace
