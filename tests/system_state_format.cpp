// The state file's format alone, without a machine: files of every format decode and encode back
// to the same bytes, and each kind of bad file is refused with the reason, whatever block it hides
// in; blocks of a later version are skipped and grown blocks are read as far as known.
#include "system/state_format.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<fs::path> DataFiles() {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(LUNABRIK_TEST_DATA) / "states"))
        if (e.path().extension() == ".lbs") files.push_back(e.path());
    return files;
}

// A file taken apart into its header and blocks, to be changed and put together again.
struct Parts {
    Bytes header; // magic, version, reserved
    std::vector<std::pair<std::string, Bytes>> blocks;
    size_t last_claims_more = 0; // the last block's length says this many bytes more than it has

    explicit Parts(const Bytes& file) : header(file.begin(), file.begin() + 12) {
        for (size_t at = 12; at + 8 <= file.size() - 4;) {
            const size_t n =
                file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 | size_t(file[at + 7]) << 24;
            blocks.emplace_back(
                std::string(file.begin() + long(at), file.begin() + long(at) + 4),
                Bytes(file.begin() + long(at) + 8, file.begin() + long(at) + 8 + long(n)));
            at += 8 + n;
        }
    }
    Bytes& operator[](const std::string& tag) {
        for (auto& [t, payload] : blocks)
            if (t == tag) return payload;
        ADD_FAILURE() << "no block " << tag;
        static Bytes none;
        return none;
    }
    void Remove(const std::string& tag) {
        std::erase_if(blocks, [&](const auto& b) { return b.first == tag; });
    }
    Bytes File() const {
        Bytes out = header;
        for (const auto& [tag, payload] : blocks) {
            out.insert(out.end(), tag.begin(), tag.end());
            const size_t n =
                payload.size() + (&payload == &blocks.back().second ? last_claims_more : 0);
            for (int i = 0; i < 4; ++i)
                out.push_back(uint8_t(n >> 8 * i));
            out.insert(out.end(), payload.begin(), payload.end());
        }
        const uint32_t crc = StateCrc32(out.data(), out.size());
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(crc >> 8 * i));
        return out;
    }
};

bool Decode(const Bytes& file, StagedState& st, std::string& error) {
    return DecodeState(file.data(), file.size(), st, error);
}

// Every file kept as test data, of whatever format, decodes to a record that encodes to the very
// same file; decoding that again gives the same record.
TEST(StateFormat, EveryKeptFileEncodesBackByteForByte) {
    int formats[3] = {};
    for (const fs::path& path : DataFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Bytes file = ReadBytes(path);
        StagedState st;
        std::string error;
        ASSERT_TRUE(Decode(file, st, error)) << error;
        ++formats[std::min<int>(file[8], 2)];
        EXPECT_EQ(st.rom_differences, file[8] >= 2);
        EXPECT_EQ(st.memory.size(), 65536u);
        EXPECT_TRUE(st.has_picture && st.have_roms);
        EXPECT_FALSE(st.pacer.queue.empty()) << "kept with keys on their way";
        const Bytes again = EncodeState(st);
        const auto differ = std::mismatch(again.begin(), again.end(), file.begin(), file.end());
        EXPECT_TRUE(again == file) << "sizes " << again.size() << " and " << file.size()
                                   << ", first difference at " << differ.first - again.begin()
                                   << ": " << int(*differ.first) << " for " << int(*differ.second);
        StagedState st2;
        ASSERT_TRUE(Decode(again, st2, error)) << error;
        EXPECT_EQ(st2.memory, st.memory);
        EXPECT_EQ(st2.rom_runs, st.rom_runs);
        EXPECT_EQ(st2.pacer.texts, st.pacer.texts);
    }
    EXPECT_GE(formats[1], 1) << "a format 1 file is kept";
    EXPECT_GE(formats[2], 1) << "a format 2 file is kept";
}

// A format 2 record keeps the ROM areas out of MEM: whatever its memory holds there, the file has
// zeros, and only the runs bring bytes back.
TEST(StateFormat, RomAreasTravelOnlyAsRuns) {
    StagedState st;
    st.memory.assign(65536, 0xA5);
    st.rom_runs = {{0x0010, {1, 2, 3}}, {0x6FFF, {4}}};
    StagedState back;
    std::string error;
    ASSERT_TRUE(Decode(EncodeState(st), back, error)) << error;
    EXPECT_EQ(back.rom_runs, st.rom_runs);
    for (uint32_t a : {0x0000u, 0x3FFFu, 0x6000u, 0x6FFFu})
        EXPECT_EQ(back.memory[a], 0) << a;
    for (uint32_t a : {0x4000u, 0x5FFFu, 0x7000u, 0xFFFFu})
        EXPECT_EQ(back.memory[a], 0xA5) << a;
}

// Each change to a good file, resealed with a right checksum, is refused with its reason (or, for
// what a later version may write, accepted).
TEST(StateFormat, BadBlocksAreRefusedWithTheirReason) {
    const Bytes good = ReadBytes(fs::path(LUNABRIK_TEST_DATA) / "states" / "busy-2r.lbs");
    const Bytes old = ReadBytes(fs::path(LUNABRIK_TEST_DATA) / "states" / "busy-1.lbs");
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(old.empty());
    auto u32 = [](Bytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> 8 * i);
    };
    struct Case {
        const char* what;
        std::function<void(Parts&)> edit;
        const char* said; // in the error; empty: accepted
        const Bytes* from = nullptr;
    } cases[] = {
        {"a later version's block",
         [](Parts& p) {
             p.blocks.insert(p.blocks.begin() + 2, {"NEW!", {1, 2, 3}});
         },
         ""},
        {"a grown CPU block", [](Parts& p) { p["CPU "].resize(40, 7); }, ""},
        {"no KEYS block", [](Parts& p) { p.Remove("KEYS"); }, "lacks part of the machine"},
        {"no MEM block", [](Parts& p) { p.Remove("MEM "); }, "lacks part of the machine"},
        {"interrupt mode 3", [](Parts& p) { p["CPU "][27] = 3; }, "CPU block"},
        {"a cut CPU block", [](Parts& p) { p["CPU "].resize(27); }, "CPU block"},
        {"an unknown control flag", [](Parts& p) { p["TIME"][46] |= 0x80; }, "TIME block"},
        {"the tick begun after now",
         [&](Parts& p) { u32(p["TIME"], 24, 0xFFFFFFFF), u32(p["TIME"], 28, 0xFFFFFFFF); },
         "TIME block"},
        {"memory a byte short", [](Parts& p) { p["MEM "].pop_back(); }, "MEM block"},
        {"memory a byte long", [](Parts& p) { p["MEM "].push_back(0); }, "MEM block"},
        {"a ROM run outside the ROM areas",
         [](Parts& p) {
             p["ROMD"] = {0x00, 0x50, 1, 0, 9};
         },
         "ROMD block"},
        {"a ROM run across a ROM area's end",
         [](Parts& p) { p["ROMD"] = {0xFF, 0x3F, 2, 0, 9, 9}; }, "ROMD block"},
        {"an empty ROM run",
         [](Parts& p) {
             p["ROMD"] = {0x00, 0x10, 0, 0};
         },
         "ROMD block"},
        {"a ROM run cut short",
         [](Parts& p) {
             p["ROMD"] = {0x00, 0x10, 4, 0, 9};
         },
         "ROMD block"},
        {"ROM runs in a format 1 file",
         [](Parts& p) {
             p.blocks.insert(p.blocks.begin() + 4, {"ROMD", {0x00, 0x10, 1, 0, 9}});
         },
         "ROMD block", &old},
        {"more texts than queued keys",
         [&](Parts& p) {
             Bytes& k = p["KEYS"];
             size_t at = 55; // past the fixed fields: the keys held, then the positional keys down
             at += 2 + 7 * size_t(k[at] | k[at + 1] << 8);
             at += 2 + size_t(k[at] | k[at + 1] << 8);
             const uint32_t queued = k[at] | k[at + 1] << 8 | k[at + 2] << 16 | k[at + 3] << 24;
             at += 4 + 9 * size_t(queued);
             const uint32_t texts = k[at] | k[at + 1] << 8 | k[at + 2] << 16 | k[at + 3] << 24;
             ASSERT_LE(texts, queued);
             u32(k, at, queued + 1);
             for (uint32_t i = texts; i <= queued; ++i) // each an empty text
                 k.insert(k.end(), {0, 0, 0, 0});
         },
         "KEYS block"},
        {"a cut KEYS block", [](Parts& p) { p["KEYS"].resize(p["KEYS"].size() - 1); },
         "KEYS block"},
        {"a slot name with a folder",
         [](Parts& p) {
             Bytes& f = p["FILE"];
             f[f.size() - 7] = '/';
         },
         "outside the files folder"},
        {"a slot number twice",
         [](Parts& p) {
             Bytes& f = p["FILE"];
             const Bytes slot(f.begin() + 1, f.end());
             f.insert(f.end(), slot.begin(), slot.end());
             f[0] = 2;
         },
         "FILE block"},
        {"nine slots", [](Parts& p) { p["FILE"][0] = 9; }, "FILE block"},
        {"a picture of another size", [](Parts& p) { p["SHOT"][0] = 200; }, "SHOT block"},
        {"a block past the end",
         [](Parts& p) {
             p.blocks.push_back({"PAD ", {}});
             p.last_claims_more = 100;
         },
         "past the end"},
        {"a newer format", [](Parts& p) { p.header[8] = 3; }, "newer"},
        {"format 0", [](Parts& p) { p.header[8] = 0; }, "format 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parts parts(c.from ? *c.from : good);
        c.edit(parts);
        const Bytes file = parts.File();
        StagedState st;
        std::string error;
        const bool ok = Decode(file, st, error);
        if (!*c.said) {
            EXPECT_TRUE(ok) << error;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.said), std::string::npos) << error;
        }
    }
}

// A file cut anywhere, or with any byte changed and not resealed, is refused as damaged.
TEST(StateFormat, DamageIsCaughtByTheChecksum) {
    const Bytes good = ReadBytes(fs::path(LUNABRIK_TEST_DATA) / "states" / "busy-2.lbs");
    for (size_t at : {size_t(0), size_t(9), size_t(12), good.size() / 2, good.size() - 5}) {
        SCOPED_TRACE(at);
        StagedState st;
        std::string error;
        Bytes changed = good;
        changed[at] ^= 0x01;
        EXPECT_FALSE(Decode(changed, st, error));
        EXPECT_FALSE(error.empty());
        const Bytes cut(good.begin(), good.begin() + long(at));
        StagedState st2;
        EXPECT_FALSE(Decode(cut, st2, error));
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
