// The character generator: font.bin expanded into the GlyphTable with its inverse copies.
#include "host/file_io.h"
#include "display/display.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

uint8_t FontImage[FontFileSize];
alignas(64) uint8_t GlyphTable[GlyphRows][GlyphColumns];
uint32_t glyph_generation = 0;

namespace {

// The inverse copies of text glyphs 0-31 and mosaic glyphs 0-32 are plain copies, so those
// codes look the same in both blink phases.
constexpr int TextPlainCopies = 32;
constexpr int MosaicPlainCopies = 33;

void ExpandSet(const uint8_t* glyphs, int base, int plain_copies) {
    for (int c = 0; c < GlyphSetSize; ++c) {
        uint8_t invert = c < plain_copies ? 0x00 : InverseBits;
        for (int r = 0; r < GlyphRows; ++r) {
            uint8_t v = glyphs[GlyphRows * c + r];
            GlyphTable[r][base + c] = v;
            GlyphTable[r][base + GlyphSetSize + c] = uint8_t(v ^ invert);
        }
    }
}

} // namespace

bool BuildCharacterGenerator() {
    int fd = OpenPlainFileForReading("font.bin");
    if (fd < 0) return false;
    // Whatever the file does not supply stays zero: a short file or a read error gives dark glyphs.
    std::memset(FontImage, 0, sizeof FontImage);
    ReadUpTo(fd, FontImage, sizeof FontImage);
    close(fd);

    ExpandSet(FontImage, TextBase, TextPlainCopies);
    ExpandSet(FontImage + GlyphSetBytes, MosaicBase, MosaicPlainCopies);
    ++glyph_generation;
    return true;
}
