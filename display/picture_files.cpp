#include "display/picture_files.h"

#include "display/display.h"
#include "host/file_io.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Crc32Table[256];

void BuildCrc32Table() {
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        Crc32Table[n] = c;
    }
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; i++)
        crc = Crc32Table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < size; i++) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

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
    PutBig32(out, Crc32(out.data() + start, out.size() - start));
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
    if (Crc32Table[1] == 0) BuildCrc32Table();
    const int line_bytes = (width + 7) / 8;

    // Filter byte 0 (none) before every line, as PNG requires.
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (line_bytes + 1));
    for (int y = 0; y < height; y++) {
        raw.push_back(0);
        const uint8_t* line = rows + size_t(y) * row_bytes;
        raw.insert(raw.end(), line, line + line_bytes);
    }

    // zlib stream: header (deflate, 32K window, no preset dictionary, check bits), stored blocks of
    // at most 65,535 bytes, Adler-32 of the raw data.
    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t done = 0;
    do {
        size_t n = raw.size() - done < 65535 ? raw.size() - done : 65535;
        zlib.push_back(done + n == raw.size() ? 1 : 0); // BFINAL, BTYPE 00
        zlib.push_back(uint8_t(n));
        zlib.push_back(uint8_t(n >> 8));
        zlib.push_back(uint8_t(~n));
        zlib.push_back(uint8_t(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + done, raw.begin() + done + n);
        done += n;
    } while (done < raw.size());
    PutBig32(zlib, Adler32(raw.data(), raw.size()));

    std::vector<uint8_t> header;
    PutBig32(header, uint32_t(width));
    PutBig32(header, uint32_t(height));
    header.insert(header.end(),
                  {1, 0, 0, 0, 0}); // bit depth 1, greyscale, deflate, filter 0, no interlace

    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", zlib);
    PutChunk(file, "IEND", {});

    return WriteBytes(path, file);
}
