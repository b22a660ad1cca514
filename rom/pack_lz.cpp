// Packs a binary for the BASIC's start-up unpacker (unpack in crt0.s) and pads it to a size:
//   lunabrik-pack-lz IN OUT SIZE
// The packed form is a list of records: a byte n below 0x80 and n + 1 literal bytes; a byte
// 0x80 + (length - 2), 0x80-0xBF, and a byte distance - 1 (a near copy); a byte 0xC0 + (length -
// 3), 0xC0-0xFE, and a 16-bit little-endian distance (a far copy). A copy takes the bytes that far
// back in what was unpacked, forward, so it may overlap itself. 0xFF ends it. The padding is 0xFF.
// Fails when the packed form does not fit.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lunabrik-pack-lz IN OUT SIZE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    const size_t size = std::strtoul(argv[3], nullptr, 0);
    std::vector<unsigned char> out, literals;
    auto flush = [&] {
        for (size_t at = 0; at < literals.size(); at += 128) {
            const size_t n = std::min<size_t>(128, literals.size() - at);
            out.push_back(static_cast<unsigned char>(n - 1));
            out.insert(out.end(), literals.begin() + at, literals.begin() + at + n);
        }
        literals.clear();
    };
    for (size_t pos = 0; pos < data.size();) {
        // The copy that saves most: the longest, the nearest on a tie; near copies cost a byte
        // less.
        size_t best = 0, best_from = 0;
        long best_gain = 0;
        for (size_t from = 0; from < pos; from++) {
            const size_t distance = pos - from;
            const bool near = distance <= 256;
            size_t n = 0;
            while (n < 65 && pos + n < data.size() && data[from + n] == data[pos + n])
                n++;
            if (n < (near ? 2u : 3u)) continue;
            const long gain = static_cast<long>(n) - (near ? 2 : 3);
            if (gain > best_gain || (gain == best_gain && best && from > best_from)) {
                best = n;
                best_from = from;
                best_gain = gain;
            }
        }
        if (best_gain <= 0) {
            literals.push_back(data[pos++]);
            continue;
        }
        flush();
        const size_t distance = pos - best_from;
        if (distance <= 256) {
            out.push_back(static_cast<unsigned char>(0x80 + best - 2));
            out.push_back(static_cast<unsigned char>(distance - 1));
        } else {
            out.push_back(static_cast<unsigned char>(0xC0 + best - 3));
            out.push_back(static_cast<unsigned char>(distance & 0xFF));
            out.push_back(static_cast<unsigned char>(distance >> 8));
        }
        pos += best;
    }
    flush();
    out.push_back(0xFF);
    if (out.size() > size) {
        std::fprintf(stderr, "lunabrik-pack-lz: %s packs into %zu bytes; the room is %zu\n",
                     argv[1], out.size(), size);
        return 1;
    }
    std::printf("lunabrik-pack-lz: %zu bytes packed into %zu of %zu\n", data.size(), out.size(),
                size);
    out.resize(size, 0xFF);
    std::ofstream file(argv[2], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
