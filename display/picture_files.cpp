#include "display/picture_files.h"

#include "display/display.h"
#include "host/file_io.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// A chunk: length, type, data, CRC of type and data.
void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBig32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, uint32_t(crc32_z(0, out.data() + start, out.size() - start)));
}

bool WriteBytes(const char* path, const std::vector<uint8_t>& bytes) {
    return WriteFileReplacing(path, bytes.data(), bytes.size());
}

} // namespace

bool WriteFramePbm(const char* path, const uint8_t (*frame)[FrameLineBytes]) {
    char header[32];
    int n = std::snprintf(header, sizeof header, "P4\n%d %d\n", FramePixels, FrameLines);
    std::vector<uint8_t> file(header, header + n);
    for (int y = 0; y < FrameLines; ++y)
        for (int i = 0; i < FramePixelBytes; ++i)
            file.push_back(uint8_t(~frame[y][i])); // PBM's 1 is black, the frame's white
    return WriteBytes(path, file);
}

bool WriteFramePng(const char* path, const uint8_t (*frame)[FrameLineBytes]) {
    return WritePng1Bit(path, &frame[0][0], FramePixels, FrameLines, FrameLineBytes);
}

bool WritePng1Bit(const char* path, const uint8_t* rows, int width, int height, int row_bytes) {
    const int line_bytes = (width + 7) / 8;

    // Filter byte 0 (none) before every line, as PNG requires.
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (line_bytes + 1));
    for (int y = 0; y < height; y++) {
        raw.push_back(0);
        const uint8_t* line = rows + size_t(y) * row_bytes;
        raw.insert(raw.end(), line, line + line_bytes);
    }

    // The image data is one zlib stream, compressed as far as zlib goes: a screen of text packs
    // to a small part of its size.
    uLongf packed_size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), uLong(raw.size()), Z_BEST_COMPRESSION) !=
        Z_OK)
        return false;
    packed.resize(packed_size);

    std::vector<uint8_t> header;
    PutBig32(header, uint32_t(width));
    PutBig32(header, uint32_t(height));
    header.insert(header.end(),
                  {1, 0, 0, 0, 0}); // bit depth 1, greyscale, deflate, filter 0, no interlace

    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    return WriteBytes(path, file);
}
