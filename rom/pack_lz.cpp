// Packs a binary for the BASIC's start-up unpacker (unpack in crt0.s) and pads it to a size:
//   lunabrik-pack-lz BEFORE IN OUT SIZE
// IN is unpacked right behind the bytes of BEFORE (basic.rom, which the machine has at
// 0x0000-0x3FFF when the library is unpacked to 0x4000), so a copy may reach back into them.
// The packed form is a stream of bits, taken from the top of a byte down, with whole bytes between
// them: a byte's bits come in the stream where its first bit is needed. After a copy (and at the
// start) a 0 is a run of literal bytes: gamma(count), then the bytes. After such a run a 0 is a
// copy from the distance of the last copy (1 before the first): gamma(length). Either way a 1 is a
// copy from a new distance: gamma(((distance - 1) >> 8) + 1), the byte (distance - 1) & 0xFF, then
// gamma(length - 1); a high part of 256 ends the stream. A copy takes length bytes from that far
// back, forward, so it may overlap itself. gamma(v), v >= 1, with v = 1 b(k-1) ... b0 in binary: a
// 0 and the bit for each of b(k-1) ... b0, then a 1 (2k + 1 bits). The padding is 0xFF. The parse
// keeps the cheapest few ways to each position, one per last distance. Fails when the packed form
// does not fit, and checks that it unpacks to IN.
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
    size_t distance = 1;
    bool after_copy = true;
    auto copy = [&](size_t len) {
        if (distance > mem.size()) return false;
        for (size_t i = 0; i < len; i++)
            mem.push_back(mem[mem.size() - distance]);
        after_copy = true;
        return true;
    };
    while (!r.bad && mem.size() <= before.size() + data.size()) {
        if (!r.bit()) {
            if (after_copy) {
                for (size_t count = r.gamma(); count && !r.bad; count--)
                    mem.push_back(r.byte());
                after_copy = false;
            } else if (!copy(r.gamma())) {
                return false;
            }
            continue;
        }
        const size_t high = r.gamma();
        if (high == 256) break;
        distance = (((high - 1) << 8) | r.byte()) + 1;
        if (!copy(r.gamma() + 1)) return false;
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
    // The ways to each position: cost in bits, the last distance, whether a copy (or the start)
    // came last, and the record that led there from an earlier position's way.
    struct Way {
        size_t cost, distance;
        bool after_copy;
        int record; // 0 literals, 1 a copy from a new distance, 2 from the last one
        size_t len, from, from_way;
    };
    constexpr size_t kept = 16, longest_run = 256;
    std::vector<std::vector<Way>> ways(n + 1);
    auto offer = [&](size_t to, const Way& w) {
        std::vector<Way>& v = ways[to];
        size_t worst = 0;
        for (size_t k = 0; k < v.size(); k++) {
            if (v[k].after_copy == w.after_copy && v[k].distance == w.distance) {
                if (w.cost < v[k].cost) v[k] = w;
                return;
            }
            if (v[k].cost > v[worst].cost) worst = k;
        }
        if (v.size() < kept)
            v.push_back(w);
        else if (w.cost < v[worst].cost)
            v[worst] = w;
    };
    ways[0].push_back({0, 1, true, 0, 0, 0, 0});
    for (size_t i = 0; i < n; i++) {
        const std::vector<Way>& v = ways[i];
        size_t best = 0;
        for (size_t k = 0; k < v.size(); k++)
            if (v[k].cost < v[best].cost) best = k;
        size_t shorter = 1;
        for (const Copy& c : copies[i]) {
            const size_t bits = v[best].cost + 1 + gamma_bits(((c.distance - 1) >> 8) + 1) + 8;
            for (size_t l = shorter + 1; l <= c.len; l++)
                offer(i + l, {bits + gamma_bits(l - 1), c.distance, true, 1, l, i, best});
            shorter = c.len;
        }
        for (size_t k = 0; k < v.size(); k++) {
            const Way& w = v[k];
            if (w.after_copy) {
                for (size_t q = 1; q <= longest_run && i + q <= n; q++)
                    offer(i + q,
                          {w.cost + 1 + gamma_bits(q) + 8 * q, w.distance, false, 0, q, i, k});
                continue;
            }
            const size_t pos = base + i;
            for (size_t l = 1;
                 pos + l <= all.size() && all[pos + l - 1] == all[pos + l - 1 - w.distance]; l++)
                offer(i + l, {w.cost + 1 + gamma_bits(l), w.distance, true, 2, l, i, k});
        }
    }
    std::vector<const Way*> path; // the records, last first
    const std::vector<Way>& last = ways[n];
    const Way* way = &*std::min_element(last.begin(), last.end(),
                                        [](const Way& a, const Way& b) { return a.cost < b.cost; });
    for (size_t at = n; at > 0;) {
        path.push_back(way);
        at = way->from;
        way = &ways[at][way->from_way];
    }
    Writer w;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        const Way& r = **it;
        const size_t start = r.from;
        if (r.record == 0) {
            w.bit(0);
            w.gamma(r.len);
            for (size_t k = 0; k < r.len; k++)
                w.byte(data[start + k]);
        } else if (r.record == 2) {
            w.bit(0);
            w.gamma(r.len);
        } else {
            w.bit(1);
            w.gamma(((r.distance - 1) >> 8) + 1);
            w.byte(static_cast<unsigned char>((r.distance - 1) & 0xFF));
            w.gamma(r.len - 1);
        }
    }
    w.bit(1);
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
