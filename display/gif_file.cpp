#include "display/gif_file.h"

#include "host/file_io.h"

#include <gif_lib.h>

#include <cerrno>
#include <cstring>

namespace {

// The longest a GIF frame can stand (its delay field is 16 bits of hundredths of a second), in
// ticks; a longer still picture is written as several frames.
constexpr uint32_t MaxFrameTicks = 65535 / GifTickCentiseconds;

void Flush(GifAnimation& gif) {
    if (gif.last.empty()) return;
    gif.frames.push_back(gif.last);
    gif.ticks.push_back(gif.last_ticks);
    gif.last.clear();
    gif.last_ticks = 0;
}

int AppendBytes(GifFileType* file, const GifByteType* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(file->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

bool Encode(const GifAnimation& gif, std::vector<uint8_t>& out, std::string& error) {
    const int scale = gif.scale < 1 ? 1 : gif.scale;
    const int width = FramePixels * scale, height = FrameLines * scale;
    int code = 0;
    GifFileType* file = EGifOpen(&out, AppendBytes, &code);
    if (!file) {
        error = GifErrorString(code);
        return false;
    }
    EGifSetGifVersion(file, true); // GIF89a: frame times and the loop
    GifColorType colours[2] = {{0, 0, 0}, {255, 255, 255}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    bool ok = map && EGifPutScreenDesc(file, width, height, 1, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    // Played round for ever (the NETSCAPE2.0 application block, loop count 0).
    const uint8_t loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(file, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(file, 3, loop) == GIF_OK && EGifPutExtensionTrailer(file) == GIF_OK;
    std::vector<GifPixelType> line(size_t(width), 0);
    for (size_t f = 0; ok && f < gif.frames.size(); ++f) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false,
                                     int(gif.ticks[f] * GifTickCentiseconds), NO_TRANSPARENT_COLOR};
        GifByteType extension[4];
        const size_t size = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, int(size), extension) == GIF_OK &&
             EGifPutImageDesc(file, 0, 0, width, height, false, nullptr) == GIF_OK;
        const uint8_t* pixels = gif.frames[f].data();
        for (int y = 0; ok && y < FrameLines; ++y) {
            const uint8_t* row = pixels + size_t(y) * FramePixelBytes;
            for (int x = 0; x < FramePixels; ++x) {
                const GifPixelType lit = (row[x >> 3] >> (7 - (x & 7))) & 1;
                for (int k = 0; k < scale; ++k)
                    line[size_t(x * scale + k)] = lit;
            }
            for (int k = 0; ok && k < scale; ++k)
                ok = EGifPutLine(file, line.data(), width) == GIF_OK;
        }
    }
    if (!ok) error = GifErrorString(file->Error);
    if (EGifCloseFile(file, &code) != GIF_OK && ok) {
        error = GifErrorString(code);
        ok = false;
    }
    return ok;
}

} // namespace

void GifAddFrame(GifAnimation& gif, const uint8_t (*frame)[FrameLineBytes]) {
    std::vector<uint8_t> packed(size_t(FrameLines) * FramePixelBytes);
    for (int y = 0; y < FrameLines; ++y)
        std::memcpy(&packed[size_t(y) * FramePixelBytes], frame[y], FramePixelBytes);
    if (packed != gif.last || gif.last_ticks == MaxFrameTicks) {
        Flush(gif);
        gif.last = std::move(packed);
    }
    ++gif.last_ticks;
}

bool GifWrite(GifAnimation& gif, const char* path, std::string& error) {
    Flush(gif);
    std::vector<uint8_t> bytes;
    if (!Encode(gif, bytes, error)) {
        error = "cannot encode the GIF: " + error;
        return false;
    }
    if (WriteFileReplacing(path, bytes.data(), bytes.size())) return true;
    const int code = errno;
    const std::string refusal = OutputRefusal(path);
    error = refusal.empty() ? std::strerror(code) : "it is " + refusal + ", not a plain file";
    return false;
}
