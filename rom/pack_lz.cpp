// Packs a binary for the BASIC's start-up unpacker (unpack in crt0.s) and pads it to a size:
//   lunabrik-pack-lz IN OUT SIZE
// The packed form is a list of records: a byte n below 0x80 and n + 1 literal bytes; a byte
// 0x80 + (length - 2), 0x80-0xBF, and a byte distance - 1 (a near copy); a byte 0xC0 + (length -
// 3), 0xC0-0xFE, and a 16-bit little-endian distance (a far copy). A copy takes the bytes that far
// back in what was unpacked, forward, so it may overlap itself. 0xFF ends it. The padding is 0xFF.
// Fails when the packed form does not fit.
#include <cstdint>
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
    // The longest near (distance up to 256) and far copy at each position, the nearest on a tie.
    const size_t n = data.size();
    std::vector<size_t> near_len(n, 0), near_from(n, 0), far_len(n, 0), far_from(n, 0);
    for (size_t pos = 0; pos < n; pos++)
        for (size_t from = 0; from < pos; from++) {
            size_t len = 0;
            while (len < 65 && pos + len < n && data[from + len] == data[pos + len])
                len++;
            const bool near = pos - from <= 256;
            std::vector<size_t>& best = near ? near_len : far_len;
            if (len >= best[pos]) {
                best[pos] = len;
                (near ? near_from : far_from)[pos] = from;
            }
        }
    // The shortest packed form: cost[i] is the fewest bytes for the first i bytes; choice[i] the
    // last record (0: literal run of run[i] bytes; 1 near, 2 far copy of run[i] bytes).
    std::vector<size_t> cost(n + 1, SIZE_MAX), run(n + 1, 0);
    std::vector<int> choice(n + 1, 0);
    cost[0] = 0;
    for (size_t i = 0; i < n; i++) {
        if (cost[i] == SIZE_MAX) continue;
        auto offer = [&](size_t to, size_t c, int kind, size_t len) {
            if (c < cost[to]) {
                cost[to] = c;
                choice[to] = kind;
                run[to] = len;
            }
        };
        for (size_t len = 1; len <= 128 && i + len <= n; len++)
            offer(i + len, cost[i] + 1 + len, 0, len);
        for (size_t len = 2; len <= near_len[i]; len++)
            offer(i + len, cost[i] + 2, 1, len);
        for (size_t len = 3; len <= far_len[i]; len++)
            offer(i + len, cost[i] + 3, 2, len);
    }
    std::vector<size_t> ends; // record ends, last first
    for (size_t i = n; i > 0; i -= run[i])
        ends.push_back(i);
    std::vector<unsigned char> out;
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        const size_t end = *it, len = run[end], start = end - len;
        if (choice[end] == 0) {
            out.push_back(static_cast<unsigned char>(len - 1));
            out.insert(out.end(), data.begin() + start, data.begin() + end);
        } else if (choice[end] == 1) {
            out.push_back(static_cast<unsigned char>(0x80 + len - 2));
            out.push_back(static_cast<unsigned char>(start - near_from[start] - 1));
        } else {
            const size_t distance = start - far_from[start];
            out.push_back(static_cast<unsigned char>(0xC0 + len - 3));
            out.push_back(static_cast<unsigned char>(distance & 0xFF));
            out.push_back(static_cast<unsigned char>(distance >> 8));
        }
    }
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
