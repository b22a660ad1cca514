#include "system/state_format.h"
#include "common/fnv.h"

#include "display/display.h"
#include "machine/memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <zlib.h>

namespace {

// The file: Magic, a 16-bit version and 16 reserved bits, tagged blocks (4-byte tag, 32-bit
// length, payload), and the CRC-32 of everything before it. All numbers little-endian.
constexpr uint8_t Magic[8] = {'L', 'B', 'S', 'T', 'A', 'T', 'E', 0x1A};
constexpr size_t HeaderSize = sizeof Magic + 4;
constexpr size_t TrailerSize = 4;
// Bounds on what a file may claim: queued keys and the bytes of queued text.
constexpr uint32_t MaxQueuedKeys = 1u << 16;
constexpr uint64_t MaxTextBytes = 1u << 20;

// The ROM areas, in address order: format 2 keeps them out of MEM (zeros there) and in ROMD.
struct RomArea {
    uint16_t address;
    uint32_t size;
};
constexpr RomArea RomAreas[] = {{BasicRomAddress, BasicRomSize}, {DevDosRomAddress, DevDosRomSize}};

// One pass over a block's fields, writing them or reading them. Each block is described once, as
// a function of a serializer and the record, and that function serves both directions: writing,
// every field is appended to the output; reading, every field is filled from the block's bytes,
// each read checked against its end (a read past it fails the block and yields zeros). Check()
// states what a field must satisfy; it fails the block only when reading.
class Serializer {
  public:
    explicit Serializer(std::vector<uint8_t>& out) : out_(&out) {}
    Serializer(const uint8_t* data, size_t size) : in_(data), size_(size) {}

    bool reading() const { return out_ == nullptr; }
    bool ok() const { return ok_; }
    size_t left() const { return size_ - at_; } // reading: bytes of the block not yet read
    const std::string& why() const { return why_; }

    bool Check(bool good, const char* why = nullptr) {
        if (reading() && !good && ok_) {
            ok_ = false;
            if (why) why_ = why;
        }
        return ok_;
    }
    void Fail(std::string why) {
        if (ok_) why_ = std::move(why);
        ok_ = false;
    }
    // Reading: true when n more bytes are there (false fails the block). Writing: true.
    bool Need(size_t n) { return Check(!reading() || (ok_ && left() >= n)); }

    // An integer field of the given width, whatever the record's type (bool reads 0 as false).
    template <int Width, typename T> void Int(T& v) {
        if (!reading()) {
            const uint64_t x = uint64_t(v);
            for (int i = 0; i < Width; ++i)
                out_->push_back(uint8_t(x >> 8 * i));
            return;
        }
        uint64_t x = 0;
        if (Need(Width)) {
            for (int i = 0; i < Width; ++i)
                x |= uint64_t(in_[at_ + size_t(i)]) << 8 * i;
            at_ += Width;
        }
        v = T(x);
    }
    template <typename T> void U8(T& v) { Int<1>(v); }
    template <typename T> void U16(T& v) { Int<2>(v); }
    template <typename T> void U32(T& v) { Int<4>(v); }
    template <typename T> void U64(T& v) { Int<8>(v); }

    void Bytes(uint8_t* p, size_t n) {
        if (n == 0) return; // an empty vector's data() may be null
        if (!reading()) {
            out_->insert(out_->end(), p, p + n);
        } else if (Need(n)) {
            std::memcpy(p, in_ + at_, n);
            at_ += n;
        }
    }
    // Writing, n zero bytes in place of p's; reading, p's bytes as stored.
    void Blanked(uint8_t* p, size_t n) {
        if (reading())
            Bytes(p, n);
        else
            out_->insert(out_->end(), n, uint8_t(0));
    }
    // Bytes with their count first (Width bytes), at most max of them: a string or a byte vector.
    template <int Width, typename C> void Sized(C& c, size_t max) {
        size_t n = std::min(c.size(), max);
        Int<Width>(n);
        if (reading()) {
            if (!Check(n <= max) || !Need(n)) return;
            c.resize(n);
        }
        Bytes(reinterpret_cast<uint8_t*>(c.data()), n);
    }
    // A list with its count first (Width bytes), at most max items of at least item_bytes each;
    // item(element) describes one. Width 0: no count, the items run to the block's end.
    template <int Width, typename V, typename Item>
    void List(V& v, size_t max, size_t item_bytes, Item item) {
        if (Width == 0 && reading()) {
            v.clear();
            while (ok_ && left() > 0 && Check(v.size() < max))
                item(v.emplace_back());
            return;
        }
        size_t n = v.size();
        if (Width) Int<Width>(n);
        if (reading()) {
            if (!Check(n <= max) || !Need(n * item_bytes)) return;
            v.clear();
            v.resize(n);
        }
        for (auto& e : v) {
            if (!ok_) return;
            item(e);
        }
    }
    void Key(KeyStroke& k) {
        U8(k.scan_code);
        U8(k.shift);
        U8(k.control);
    }

  private:
    std::vector<uint8_t>* out_ = nullptr;
    const uint8_t* in_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    bool ok_ = true;
    std::string why_;
};

// A slot's name must be a plain name inside the files folder.
bool PlainFileName(const std::string& name) {
    if (name.empty() || name.size() >= HostPathSize || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

// ---- the blocks --------------------------------------------------------------------------------

void Info(Serializer& s, StagedState& st) { s.U64(st.saved_at); }

void Cpu(Serializer& s, StagedState& st) {
    CpuRegisters& c = st.cpu;
    for (uint16_t* v :
         {&c.AF, &c.BC, &c.DE, &c.HL, &c.IX, &c.IY, &c.SP, &c.PC, &c.AF_, &c.BC_, &c.DE_, &c.HL_})
        s.U16(*v);
    s.U8(c.I);
    s.U8(c.IFF1);
    s.U8(c.IFF2);
    s.U8(c.IM);
    s.Check(c.IFF1 <= 1 && c.IFF2 <= 1 && c.IM <= 2);
}

void Time(Serializer& s, StagedState& st) {
    ProcessorTiming& t = st.timing;
    s.U64(t.instructions);
    s.U64(t.tstates);
    s.U64(t.ticks);
    s.U64(t.tick_start);
    s.U64(t.last_service);
    s.U8(t.real_speed_period);
    s.U8(t.waiting_for_tick);
    s.U32(t.refresh_state);
    s.U8(st.flags);
    s.U32(st.frame_count);
    s.Check((st.flags & ~(StateTick | StateHalted)) == 0 && t.tick_start <= t.tstates);
}

// The whole address space; in format 2 the ROM areas are zeros here and their differences in ROMD.
void Memory(Serializer& s, StagedState& st) {
    if (s.reading()) {
        if (!s.Check(s.left() == MemorySize)) return;
        st.memory.resize(MemorySize);
    }
    uint32_t at = 0;
    for (const RomArea& area : RomAreas) {
        s.Bytes(&st.memory[at], area.address - at);
        if (st.rom_differences)
            s.Blanked(&st.memory[area.address], area.size);
        else
            s.Bytes(&st.memory[area.address], area.size);
        at = area.address + area.size;
    }
    s.Bytes(&st.memory[at], MemorySize - at);
}

// Runs of ROM bytes that differ from the images loaded: address, length, bytes, each run inside
// one ROM area; runs to the block's end.
void RomRuns(Serializer& s, StagedState& st) {
    s.Check(st.rom_differences); // format 1 has none
    s.List<0>(st.rom_runs, MemorySize, 5, [&](auto& run) {
        auto& [address, bytes] = run;
        s.U16(address);
        s.Sized<2>(bytes, 0xFFFF);
        bool inside = false;
        for (const RomArea& area : RomAreas)
            inside = inside || (!bytes.empty() && address >= area.address &&
                                uint32_t(address) + bytes.size() <= area.address + area.size);
        s.Check(inside);
    });
}

void Ports(Serializer& s, StagedState& st) {
    s.Bytes(st.in_ports, 256);
    s.Bytes(st.out_ports, 256);
}

void Keys(Serializer& s, StagedState& st) {
    PacerSnapshot& p = st.pacer;
    s.U8(p.keyboard.modifiers);
    s.U8(p.keyboard.held_keys);
    s.U8(p.keyboard.key_code);
    s.U8(p.keyboard.caps_applies);
    s.U8(p.key_port);
    s.U8(p.bus_byte);
    s.U8(p.key_flag);
    s.U32(p.port_reads);
    s.U32(p.pace.hold_tstates);
    s.U32(p.pace.gap_tstates);
    s.U32(p.pace.enter_gap_tstates);
    s.U8(p.waiting_take);
    s.U32(p.watch.port_reads);
    s.U64(p.watch.ticks);
    s.U64(p.ready_at);
    s.U8(p.after_enter);
    s.U8(p.typed_code);
    s.U8(p.typed_is_text);
    s.U64(p.text_next);
    s.List<2>(p.held, PacerHostKeys + 1, 7, [&](PacerSnapshot::HeldKey& h) {
        s.U16(h.host);
        s.U8(h.host_up);
        s.U8(h.caps_toggled);
        s.Key(h.key);
    });
    s.Sized<2>(p.positional_down, 256);
    s.List<4>(p.queue, MaxQueuedKeys, 9, [&](PacerSnapshot::QueuedKey& q) {
        s.U8(q.kind);
        s.U8(q.scan_code);
        s.U8(q.pressed);
        s.U16(q.host);
        s.Key(q.key);
        s.U8(q.released);
    });
    uint64_t total = 0;
    s.List<4>(p.texts, p.queue.size(), 4, [&](std::string& text) {
        s.Sized<4>(text, MaxTextBytes);
        total += text.size();
        s.Check(total <= MaxTextBytes);
    });
    if (s.reading()) s.Check(PacerSnapshotValid(p));
}

void Files(Serializer& s, StagedState& st) {
    bool seen[FileSlotCount] = {};
    s.List<1>(st.slots, FileSlotCount, 12, [&](StagedState::Slot& slot) {
        s.U8(slot.number);
        s.U8(slot.record.writable);
        s.U64(slot.record.position);
        std::string name = s.reading() ? std::string() : slot.record.name;
        s.Sized<2>(name, 0xFFFF);
        if (!s.Check(slot.number < FileSlotCount && !seen[slot.number])) return;
        if (!PlainFileName(name)) {
            if (s.reading())
                s.Fail("host file slot " + std::to_string(slot.number) +
                       " names a file outside the files folder");
            return;
        }
        seen[slot.number] = true;
        if (s.reading()) std::memcpy(slot.record.name, name.c_str(), name.size() + 1);
    });
}

void Roms(Serializer& s, StagedState& st) {
    s.U64(st.basic_hash);
    s.U64(st.dev_dos_hash);
    if (s.reading()) st.have_roms = s.ok();
}

void Settings(Serializer& s, StagedState& st) {
    s.U32(st.waitstates);
    s.Sized<2>(st.files_folder, 0xFFFF);
}

void Shot(Serializer& s, StagedState& st) {
    uint16_t width = FramePixels, height = FrameLines;
    s.U16(width);
    s.U16(height);
    if (!s.Check(width == FramePixels && height == FrameLines)) return;
    if (s.reading()) st.picture.resize(size_t(FrameLines) * FramePixelBytes);
    s.Bytes(st.picture.data(), st.picture.size());
    if (s.reading()) st.has_picture = s.ok();
}

bool Always(const StagedState&) { return true; }

// The blocks in the order written. A block is written when `written` says so; reading, the
// required ones must all be there and any block of a tag not listed (a later version's) is
// skipped. A block may be longer than its fields (a later version's additions), except MEM.
const struct Block {
    char tag[5];
    bool required;
    bool (*written)(const StagedState&);
    void (*describe)(Serializer&, StagedState&);
} Blocks[] = {
    {"INFO", false, Always, Info},
    {"CPU ", true, Always, Cpu},
    {"TIME", true, Always, Time},
    {"MEM ", true, Always, Memory},
    {"ROMD", false, [](const StagedState& st) { return !st.rom_runs.empty(); }, RomRuns},
    {"PORT", true, Always, Ports},
    {"KEYS", true, Always, Keys},
    {"FILE", false, [](const StagedState& st) { return !st.slots.empty(); }, Files},
    {"ROMS", false, [](const StagedState& st) { return st.have_roms; }, Roms},
    {"SETS", false, Always, Settings},
    {"SHOT", false, [](const StagedState& st) { return st.has_picture; }, Shot},
};
constexpr size_t BlockCount = sizeof Blocks / sizeof Blocks[0];

void PutLe(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> 8 * i);
}

uint32_t GetLe(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(p[i]) << 8 * i;
    return v;
}

} // namespace

std::vector<uint8_t> EncodeState(const StagedState& state) {
    std::vector<uint8_t> out;
    out.reserve(MemorySize + 16384);
    out.insert(out.end(), Magic, Magic + sizeof Magic);
    // A record read from a format 1 file holds the ROM areas in its memory, as that format did.
    const uint16_t version = state.rom_differences ? StateFormatVersion : 1;
    out.insert(out.end(), {uint8_t(version), uint8_t(version >> 8), 0, 0});
    // Writing only reads the record: the descriptions change it only when reading.
    StagedState& st = const_cast<StagedState&>(state);
    for (const Block& block : Blocks) {
        if (!block.written(state)) continue;
        out.insert(out.end(), block.tag, block.tag + 4);
        const size_t at = out.size();
        out.resize(at + 4);
        Serializer s(out);
        block.describe(s, st);
        PutLe(&out[at], uint32_t(out.size() - at - 4));
    }
    const uint32_t crc = StateCrc32(out.data(), out.size());
    out.resize(out.size() + 4);
    PutLe(&out[out.size() - 4], crc);
    return out;
}

bool DecodeState(const uint8_t* data, size_t size, StagedState& st, std::string& error) {
    if (size == 0) {
        error = "the file is empty";
        return false;
    }
    if (size < HeaderSize || std::memcmp(data, Magic, sizeof Magic) != 0) {
        error = "not a Lunabrik state file";
        return false;
    }
    // The checksum first: the version of a damaged or cut file is as likely damaged as the rest.
    if (size < HeaderSize + TrailerSize ||
        StateCrc32(data, size - TrailerSize) != GetLe(data + size - TrailerSize, 4)) {
        error = "the file is damaged or cut short (its checksum does not match)";
        return false;
    }
    const uint16_t version = uint16_t(GetLe(data + sizeof Magic, 2));
    if (version > StateFormatVersion) {
        error = "saved by a newer Lunabrik (state format " + std::to_string(version) +
                "; this one reads format " + std::to_string(StateFormatVersion) + " and older)";
        return false;
    }
    if (version == 0) {
        error = "not a Lunabrik state file (format 0)";
        return false;
    }
    st.rom_differences = version >= 2;
    const size_t end = size - TrailerSize;
    bool seen[BlockCount] = {};
    for (size_t at = HeaderSize; at < end;) {
        if (end - at < 8 || GetLe(data + at + 4, 4) > end - at - 8) {
            error = "a block runs past the end of the file";
            return false;
        }
        const char* tag = reinterpret_cast<const char*>(data + at);
        const uint32_t length = GetLe(data + at + 4, 4);
        const uint8_t* payload = data + at + 8;
        at += 8 + size_t(length);
        const Block* block =
            std::find_if(std::begin(Blocks), std::end(Blocks),
                         [&](const Block& b) { return std::memcmp(b.tag, tag, 4) == 0; });
        if (block == std::end(Blocks)) continue; // from a later version: skipped
        Serializer s(payload, length);
        block->describe(s, st);
        if (!s.ok()) {
            const std::string name(block->tag, std::strcspn(block->tag, " "));
            error = !s.why().empty() ? s.why() : "its " + name + " block is not valid";
            return false;
        }
        seen[block - Blocks] = true;
    }
    for (size_t i = 0; i < BlockCount; ++i)
        if (Blocks[i].required && !seen[i]) {
            error = "the file lacks part of the machine";
            return false;
        }
    return true;
}

uint64_t StateHash64(const uint8_t* data, size_t size) { return Fnv1a64(data, size); }

uint32_t StateCrc32(const uint8_t* data, size_t size) { return uint32_t(crc32_z(0, data, size)); }
