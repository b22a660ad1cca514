// Packs a binary for the BASIC's start-up unpacker (unpack in crt0.s) and pads it to a size:
//   lunabrik-pack-lz BEFORE IN OUT SIZE
// IN is unpacked right behind the bytes of BEFORE (basic.rom, which the machine has at
// 0x0000-0x3FFF when the library is unpacked to 0x4000), so a copy may reach back into them.
// The packed form is a stream of bits, taken from the top of a byte down, with whole bytes between
// them: a byte's bits come in the stream where its first bit is needed. Records:
//   0, then a byte: a literal byte;
//   1, gamma(length - 1), gamma(((distance - 1) >> 8) + 1), then the byte (distance - 1) & 0xFF:
//      a copy of length bytes (2 or more) from that far back, forward, so it may overlap itself;
//   1, gamma(1), gamma(256): the end.
// gamma(v), v >= 1, with v = 1 b(k-1) ... b0 in binary: a 0 and the bit for each of b(k-1) ... b0,
// then a 1 (2k + 1 bits). The padding is 0xFF. The parse is optimal for this form. Fails when the
// packed form does not fit, and checks that it unpacks to IN.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t gamma_bits(size_t v) {
    size_t k = 0;
    while (v >> (k + 1))
        k++;
    return 2 * k + 1;
}

size_t copy_bits(size_t len, size_t distance) {
    return 1 + gamma_bits(len - 1) + gamma_bits(((distance - 1) >> 8) + 1) + 8;
}

struct Writer {
    Bytes out;
    size_t bit_byte = 0;
    int bits_left = 0;
    void bit(int b) {
        if (bits_left == 0) {
            bit_byte = out.size();
            out.push_back(0);
            bits_left = 8;
        }
        bits_left--;
        if (b) out[bit_byte] |= static_cast<unsigned char>(1 << bits_left);
    }
    void gamma(size_t v) {
        int k = 0;
        while (v >> (k + 1))
            k++;
        for (int i = k - 1; i >= 0; i--) {
            bit(0);
            bit(static_cast<int>((v >> i) & 1));
        }
        bit(1);
    }
    void byte(unsigned char b) { out.push_back(b); }
};

// The unpacker's view of the stream, to check the packer's output.
struct Reader {
    const Bytes& in;
    size_t pos = 0;
    unsigned bits = 0;
    int left = 0;
    bool bad = false;
    int bit() {
        if (left == 0) {
            bits = byte();
            left = 8;
        }
        left--;
        return (bits >> left) & 1;
    }
    size_t gamma() {
        size_t v = 1;
        while (!bad && !bit())
            v = 2 * v + static_cast<size_t>(bit());
        return v;
    }
    unsigned char byte() {
        if (pos >= in.size()) {
            bad = true;
            return 0;
        }
        return in[pos++];
    }
};

bool unpacks_to(const Bytes& packed, const Bytes& before, const Bytes& data) {
    Bytes mem = before;
    Reader r{packed};
    while (!r.bad && mem.size() <= before.size() + data.size()) {
        if (!r.bit()) {
            mem.push_back(r.byte());
            continue;
        }
        const size_t len = r.gamma() + 1, high = r.gamma();
        if (high == 256) break;
        const size_t distance = (((high - 1) << 8) | r.byte()) + 1;
        if (distance > mem.size()) return false;
        for (size_t i = 0; i < len; i++)
            mem.push_back(mem[mem.size() - distance]);
    }
    return !r.bad && mem.size() == before.size() + data.size() &&
           std::equal(data.begin(), data.end(), mem.begin() + static_cast<long>(before.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: lunabrik-pack-lz BEFORE IN OUT SIZE\n");
        return 2;
    }
    const Bytes before = read_file(argv[1]);
    const Bytes data = read_file(argv[2]);
    const size_t size = std::strtoul(argv[4], nullptr, 0);
    Bytes all = before;
    all.insert(all.end(), data.begin(), data.end());
    const size_t base = before.size(), n = data.size();

    // For each position, the copies worth having: the nearest distance for each longer length
    // (a nearer distance never costs more bits).
    struct Copy {
        size_t len, distance;
    };
    std::vector<std::vector<Copy>> copies(n);
    for (size_t i = 0; i < n; i++) {
        const size_t pos = base + i;
        size_t best = 1;
        for (size_t from = pos; from-- > 0;) {
            if (pos + best >= all.size()) break;
            if (all[from] != all[pos] || all[from + best] != all[pos + best]) continue;
            size_t len = 0;
            while (pos + len < all.size() && all[from + len] == all[pos + len])
                len++;
            if (len > best) {
                best = len;
                copies[i].push_back({len, pos - from});
                if (pos + len == all.size()) break;
            }
        }
    }
    // cost[i]: the fewest bits for the first i bytes; len[i], distance[i]: the last record
    // (distance 0: a literal).
    std::vector<size_t> cost(n + 1, SIZE_MAX), len(n + 1, 0), distance(n + 1, 0);
    cost[0] = 0;
    for (size_t i = 0; i < n; i++) {
        if (cost[i] + 9 < cost[i + 1]) {
            cost[i + 1] = cost[i] + 9;
            len[i + 1] = 1;
            distance[i + 1] = 0;
        }
        size_t shorter = 1;
        for (const Copy& c : copies[i]) {
            for (size_t l = shorter + 1; l <= c.len; l++) {
                const size_t bits = cost[i] + copy_bits(l, c.distance);
                if (bits < cost[i + l]) {
                    cost[i + l] = bits;
                    len[i + l] = l;
                    distance[i + l] = c.distance;
                }
            }
            shorter = c.len;
        }
    }
    std::vector<size_t> ends; // record ends, last first
    for (size_t i = n; i > 0; i -= len[i])
        ends.push_back(i);
    Writer w;
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        const size_t end = *it, start = end - len[end];
        if (distance[end] == 0) {
            w.bit(0);
            w.byte(data[start]);
        } else {
            w.bit(1);
            w.gamma(len[end] - 1);
            w.gamma(((distance[end] - 1) >> 8) + 1);
            w.byte(static_cast<unsigned char>((distance[end] - 1) & 0xFF));
        }
    }
    w.bit(1);
    w.gamma(1);
    w.gamma(256);
    Bytes& out = w.out;
    if (!unpacks_to(out, before, data)) {
        std::fprintf(stderr, "lunabrik-pack-lz: %s does not unpack to itself\n", argv[2]);
        return 1;
    }
    if (out.size() > size) {
        std::fprintf(stderr, "lunabrik-pack-lz: %s packs into %zu bytes; the room is %zu\n",
                     argv[2], out.size(), size);
        return 1;
    }
    std::printf("lunabrik-pack-lz: %zu bytes packed into %zu of %zu\n", data.size(), out.size(),
                size);
    out.resize(size, 0xFF);
    std::ofstream file(argv[3], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
