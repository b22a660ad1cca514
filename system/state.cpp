#include "system/state.h"

#include "common/fnv.h"
#include "cpu/processor.h"
#include "host/file_io.h"
#include "host/settings.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "system/pacer.h"
#include "system/system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace {

// The file: Magic, a 16-bit version and 16 reserved bits, tagged blocks (4-byte tag, 32-bit
// length, payload), and the CRC-32 of everything before it. All numbers little-endian.
constexpr uint8_t Magic[8] = {'L', 'B', 'S', 'T', 'A', 'T', 'E', 0x1A};
// Format 1 kept the ROM areas in MEM byte for byte; format 2 keeps only their differences from
// the images loaded (ROMD).
constexpr uint16_t FormatVersion = 2;
constexpr size_t HeaderSize = sizeof Magic + 4;
constexpr size_t TrailerSize = 4;
// A state is about 80 KB; a file far beyond that is not one of ours.
constexpr size_t MaxStateFileSize = 4u << 20;
// Bounds on what a file may claim: queued keys and the bytes of queued text.
constexpr uint32_t MaxQueuedKeys = 1u << 16;
constexpr uint64_t MaxTextBytes = 1u << 20;
// How long a save or load waits for a running machine to stop at an instruction boundary.
constexpr auto PauseLimit = std::chrono::seconds(10);

// The ROM areas: a state holds how they differ from the images loaded, never their bytes.
struct RomArea {
    uint16_t address;
    uint32_t size;
    const uint8_t* loaded;
};
const RomArea RomAreas[] = {{BasicRomAddress, BasicRomSize, LoadedBasicRom},
                            {DevDosRomAddress, DevDosRomSize, LoadedDevDosRom}};
// Differing bytes closer than this are kept as one run: a run's header costs 4 bytes.
constexpr uint32_t RunJoinGap = 4;

// Control flags a state keeps; KEY travels with the keyboard (the pacer's snapshot).
constexpr uint8_t SavedTick = 0x01, SavedHalted = 0x02;

// A state as read from a file and checked, before anything of the machine changes; or as taken
// from the machine, before it is written.
struct Staged {
    CpuRegisters cpu{};          // the register file
    ProcessorTiming timing{};    // counters, the tick period, the LD A,R generator
    uint8_t flags = 0;           // SavedTick | SavedHalted
    uint32_t frame_count = 0;    // frames drawn: the blink phase
    std::vector<uint8_t> memory; // the 64 KB address space
    // Format 2 and later: the ROM areas are the images loaded with these runs written over them
    // (address, bytes); format 1 files hold the ROM areas in memory itself.
    bool rom_differences = true;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> rom_runs;
    uint8_t in_ports[256] = {};  // what IN reads
    uint8_t out_ports[256] = {}; // what OUT last wrote
    PacerSnapshot pacer;         // keyboard, key pacer, port 56, the bus byte, KEY
    struct Slot {
        uint8_t number;        // 0-7
        FileSlotRecord record; // name in the files folder, mode, position
    };
    std::vector<Slot> slots;      // the open host file slots
    bool have_roms = false;       // the ROMS block was there (files, not rewind)
    uint64_t basic_hash = 0;      // FNV-1a 64 of basic.rom as the loader reads it, 0 when missing
    uint64_t dev_dos_hash = 0;    // the same of dev_dos.rom
    int32_t waitstates = 0;       // the settings in use, recorded only
    std::string files_folder;     // the files folder setting, recorded only
    int64_t saved_at = 0;         // seconds since 1970, UTC
    bool has_picture = false;     // the SHOT block was there
    std::vector<uint8_t> picture; // FrameLines lines of FramePixelBytes
};

// ---- hashing -----------------------------------------------------------------------------------

// FNV-1a 64 of an image file as the loader reads it (its first `limit` bytes); 0 when missing.
uint64_t HashImageFile(const char* name, size_t limit) {
    const int fd = OpenPlainFileForReading(name);
    if (fd < 0) return 0;
    std::vector<uint8_t> bytes(limit);
    const size_t got = ReadUpTo(fd, bytes.data(), limit);
    close(fd);
    return StateHash64(bytes.data(), got);
}

// ---- writing -----------------------------------------------------------------------------------

struct Writer {
    std::vector<uint8_t> out;
    void U8(uint8_t v) { out.push_back(v); }
    void U16(uint16_t v) {
        for (int i = 0; i < 2; ++i)
            out.push_back(uint8_t(v >> 8 * i));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> 8 * i));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i)
            out.push_back(uint8_t(v >> 8 * i));
    }
    void Bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    void Text16(const std::string& s) { // up to 65,535 bytes, length first
        const size_t n = std::min<size_t>(s.size(), 0xFFFF);
        U16(uint16_t(n));
        Bytes(reinterpret_cast<const uint8_t*>(s.data()), n);
    }
    // A block: tag, then its length filled in once fill has written the payload.
    template <typename Fill> void Block(const char (&tag)[5], Fill fill) {
        Bytes(reinterpret_cast<const uint8_t*>(tag), 4);
        const size_t at = out.size();
        U32(0);
        fill();
        const uint32_t n = uint32_t(out.size() - at - 4);
        for (int i = 0; i < 4; ++i)
            out[at + i] = uint8_t(n >> 8 * i);
    }
    void Key(const KeyStroke& k) {
        U8(k.scan_code);
        U8(k.shift);
        U8(k.control);
    }
};

std::vector<uint8_t> Encode(const Staged& s) {
    Writer w;
    w.Bytes(Magic, sizeof Magic);
    w.U16(FormatVersion);
    w.U16(0);
    w.Block("INFO", [&] { w.U64(uint64_t(s.saved_at)); });
    w.Block("CPU ", [&] {
        const CpuRegisters& r = s.cpu;
        for (uint16_t v :
             {r.AF, r.BC, r.DE, r.HL, r.IX, r.IY, r.SP, r.PC, r.AF_, r.BC_, r.DE_, r.HL_})
            w.U16(v);
        w.U8(r.I);
        w.U8(r.IFF1);
        w.U8(r.IFF2);
        w.U8(r.IM);
    });
    w.Block("TIME", [&] {
        const ProcessorTiming& t = s.timing;
        w.U64(t.instructions);
        w.U64(t.tstates);
        w.U64(t.ticks);
        w.U64(t.tick_start);
        w.U64(t.last_service);
        w.U8(t.real_speed_period);
        w.U8(t.waiting_for_tick);
        w.U32(t.refresh_state);
        w.U8(s.flags);
        w.U32(s.frame_count);
    });
    w.Block("MEM ", [&] {
        std::vector<uint8_t> memory = s.memory;
        for (const RomArea& area : RomAreas)
            std::fill_n(memory.begin() + area.address, area.size, uint8_t(0));
        w.Bytes(memory.data(), memory.size());
    });
    if (!s.rom_runs.empty())
        w.Block("ROMD", [&] {
            for (const auto& [address, bytes] : s.rom_runs) {
                w.U16(address);
                w.U16(uint16_t(bytes.size()));
                w.Bytes(bytes.data(), bytes.size());
            }
        });
    w.Block("PORT", [&] {
        w.Bytes(s.in_ports, 256);
        w.Bytes(s.out_ports, 256);
    });
    w.Block("KEYS", [&] {
        const PacerSnapshot& p = s.pacer;
        w.U8(p.keyboard.modifiers);
        w.U8(uint8_t(p.keyboard.held_keys));
        w.U8(p.keyboard.key_code);
        w.U8(p.keyboard.caps_applies);
        w.U8(p.key_port);
        w.U8(p.bus_byte);
        w.U8(p.key_flag);
        w.U32(p.port_reads);
        w.U32(p.pace.hold_tstates);
        w.U32(p.pace.gap_tstates);
        w.U32(p.pace.enter_gap_tstates);
        w.U8(p.waiting_take);
        w.U32(p.watch.port_reads);
        w.U64(p.watch.ticks);
        w.U64(p.ready_at);
        w.U8(p.after_enter);
        w.U8(p.typed_code);
        w.U8(p.typed_is_text);
        w.U64(p.text_next);
        w.U16(uint16_t(p.held.size()));
        for (const auto& h : p.held) {
            w.U16(uint16_t(h.host));
            w.U8(h.host_up);
            w.U8(h.caps_toggled);
            w.Key(h.key);
        }
        w.U16(uint16_t(p.positional_down.size()));
        w.Bytes(p.positional_down.data(), p.positional_down.size());
        w.U32(uint32_t(p.queue.size()));
        for (const auto& q : p.queue) {
            w.U8(q.kind);
            w.U8(q.scan_code);
            w.U8(q.pressed);
            w.U16(uint16_t(q.host));
            w.Key(q.key);
            w.U8(q.released);
        }
        w.U32(uint32_t(p.texts.size()));
        for (const std::string& t : p.texts) {
            w.U32(uint32_t(t.size()));
            w.Bytes(reinterpret_cast<const uint8_t*>(t.data()), t.size());
        }
    });
    if (!s.slots.empty())
        w.Block("FILE", [&] {
            w.U8(uint8_t(s.slots.size()));
            for (const Staged::Slot& slot : s.slots) {
                w.U8(slot.number);
                w.U8(slot.record.writable);
                w.U64(slot.record.position);
                w.Text16(slot.record.name);
            }
        });
    if (s.have_roms)
        w.Block("ROMS", [&] {
            w.U64(s.basic_hash);
            w.U64(s.dev_dos_hash);
        });
    w.Block("SETS", [&] {
        w.U32(uint32_t(s.waitstates));
        w.Text16(s.files_folder);
    });
    if (s.has_picture)
        w.Block("SHOT", [&] {
            w.U16(FramePixels);
            w.U16(FrameLines);
            w.Bytes(s.picture.data(), s.picture.size());
        });
    w.U32(StateCrc32(w.out.data(), w.out.size()));
    return std::move(w.out);
}

// ---- reading -----------------------------------------------------------------------------------

// Every read is checked against the end; a read past it sets ok false and yields zeros.
struct Reader {
    const uint8_t* p;
    size_t size;
    size_t at = 0;
    bool ok = true;
    bool Need(size_t n) {
        if (!ok || size - at < n) ok = false;
        return ok;
    }
    uint64_t Le(int bytes) {
        if (!Need(size_t(bytes))) return 0;
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(p[at + i]) << 8 * i;
        at += size_t(bytes);
        return v;
    }
    uint8_t U8() { return uint8_t(Le(1)); }
    uint16_t U16() { return uint16_t(Le(2)); }
    uint32_t U32() { return uint32_t(Le(4)); }
    uint64_t U64() { return Le(8); }
    bool Flag() { return U8() != 0; }
    void Bytes(uint8_t* out, size_t n) {
        if (n == 0 || !Need(n)) return; // an empty vector's data() may be null
        std::memcpy(out, p + at, n);
        at += n;
    }
    std::string Text(size_t n) {
        if (!Need(n)) return {};
        std::string s(reinterpret_cast<const char*>(p + at), n);
        at += n;
        return s;
    }
    KeyStroke Key() {
        KeyStroke k;
        k.scan_code = U8();
        k.shift = Flag();
        k.control = Flag();
        return k;
    }
};

// A slot's name must be a plain name inside the files folder.
bool PlainFileName(const std::string& name) {
    if (name.empty() || name.size() >= HostPathSize || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

bool ParseCpu(Reader& r, Staged& s) {
    CpuRegisters& c = s.cpu;
    for (uint16_t* v :
         {&c.AF, &c.BC, &c.DE, &c.HL, &c.IX, &c.IY, &c.SP, &c.PC, &c.AF_, &c.BC_, &c.DE_, &c.HL_})
        *v = r.U16();
    c.I = r.U8();
    c.IFF1 = r.U8();
    c.IFF2 = r.U8();
    c.IM = r.U8();
    return r.ok && c.IFF1 <= 1 && c.IFF2 <= 1 && c.IM <= 2;
}

bool ParseTime(Reader& r, Staged& s) {
    ProcessorTiming& t = s.timing;
    t.instructions = r.U64();
    t.tstates = r.U64();
    t.ticks = r.U64();
    t.tick_start = r.U64();
    t.last_service = r.U64();
    t.real_speed_period = r.Flag();
    t.waiting_for_tick = r.Flag();
    t.refresh_state = r.U32();
    s.flags = r.U8();
    s.frame_count = r.U32();
    return r.ok && (s.flags & ~(SavedTick | SavedHalted)) == 0 && t.tick_start <= t.tstates;
}

bool ParseKeys(Reader& r, Staged& s) {
    PacerSnapshot& p = s.pacer;
    p.keyboard.modifiers = r.U8();
    p.keyboard.held_keys = int8_t(r.U8());
    p.keyboard.key_code = r.U8();
    p.keyboard.caps_applies = r.U8();
    p.key_port = r.U8();
    p.bus_byte = r.U8();
    p.key_flag = r.Flag();
    p.port_reads = r.U32();
    p.pace.hold_tstates = r.U32();
    p.pace.gap_tstates = r.U32();
    p.pace.enter_gap_tstates = r.U32();
    p.waiting_take = r.Flag();
    p.watch.port_reads = r.U32();
    p.watch.ticks = r.U64();
    p.ready_at = r.U64();
    p.after_enter = r.Flag();
    p.typed_code = r.U8();
    p.typed_is_text = r.Flag();
    p.text_next = r.U64();
    const uint16_t held = r.U16();
    if (held > PacerHostKeys + 1) return false;
    for (uint16_t i = 0; i < held && r.ok; ++i) {
        PacerSnapshot::HeldKey h;
        h.host = r.U16();
        h.host_up = r.Flag();
        h.caps_toggled = r.Flag();
        h.key = r.Key();
        p.held.push_back(h);
    }
    const uint16_t down = r.U16();
    if (down > 256 || !r.Need(down)) return false;
    p.positional_down.resize(down);
    r.Bytes(p.positional_down.data(), down);
    const uint32_t queued = r.U32();
    if (queued > MaxQueuedKeys) return false;
    for (uint32_t i = 0; i < queued && r.ok; ++i) {
        PacerSnapshot::QueuedKey q;
        q.kind = r.U8();
        q.scan_code = r.U8();
        q.pressed = r.Flag();
        q.host = r.U16();
        q.key = r.Key();
        q.released = r.Flag();
        p.queue.push_back(q);
    }
    const uint32_t texts = r.U32();
    if (texts > queued) return false;
    uint64_t total = 0;
    for (uint32_t i = 0; i < texts && r.ok; ++i) {
        const uint32_t n = r.U32();
        total += n;
        if (total > MaxTextBytes) return false;
        p.texts.push_back(r.Text(n));
    }
    return r.ok && PacerSnapshotValid(p);
}

// Runs of ROM bytes that differ from the images loaded: address, length, bytes; each inside one
// ROM area.
bool ParseRomRuns(Reader& r, Staged& s) {
    while (r.ok && r.at < r.size) {
        const uint16_t address = r.U16(), length = r.U16();
        bool inside = false;
        for (const RomArea& area : RomAreas)
            inside = inside || (length > 0 && address >= area.address &&
                                uint32_t(address) + length <= area.address + area.size);
        if (!r.ok || !inside || !r.Need(length)) return false;
        std::vector<uint8_t> bytes(length);
        r.Bytes(bytes.data(), length);
        s.rom_runs.emplace_back(address, std::move(bytes));
    }
    return r.ok;
}

bool ParseFiles(Reader& r, Staged& s, std::string& why) {
    const uint8_t count = r.U8();
    if (count > FileSlotCount) return false;
    bool seen[FileSlotCount] = {};
    for (uint8_t i = 0; i < count && r.ok; ++i) {
        Staged::Slot slot{};
        slot.number = r.U8();
        slot.record.writable = r.Flag();
        slot.record.position = r.U64();
        const std::string name = r.Text(r.U16());
        if (!r.ok || slot.number >= FileSlotCount || seen[slot.number]) return false;
        if (!PlainFileName(name)) {
            why = "host file slot " + std::to_string(slot.number) +
                  " names a file outside the files folder";
            return false;
        }
        seen[slot.number] = true;
        std::memcpy(slot.record.name, name.c_str(), name.size() + 1);
        s.slots.push_back(slot);
    }
    return r.ok;
}

// Checks and reads a whole file into s. False with error set when anything is wrong.
bool Decode(const uint8_t* data, size_t size, Staged& s, std::string& error) {
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
        StateCrc32(data, size - TrailerSize) !=
            Reader{data + size - TrailerSize, TrailerSize}.U32()) {
        error = "the file is damaged or cut short (its checksum does not match)";
        return false;
    }
    Reader head{data + sizeof Magic, 4};
    const uint16_t version = head.U16();
    if (version > FormatVersion) {
        error = "saved by a newer Lunabrik (state format " + std::to_string(version) +
                "; this one reads format " + std::to_string(FormatVersion) + " and older)";
        return false;
    }
    if (version == 0) {
        error = "not a Lunabrik state file (format 0)";
        return false;
    }
    s.rom_differences = version >= 2;
    Reader file{data, size - TrailerSize, HeaderSize};
    bool seen_cpu = false, seen_time = false, seen_mem = false, seen_port = false,
         seen_keys = false;
    while (file.at < file.size) {
        char tag[5] = {};
        file.Bytes(reinterpret_cast<uint8_t*>(tag), 4);
        const uint32_t length = file.U32();
        if (!file.ok || length > file.size - file.at) {
            error = "a block runs past the end of the file";
            return false;
        }
        Reader r{data + file.at, length};
        file.at += length;
        const std::string t = tag;
        bool good = true;
        std::string why;
        if (t == "INFO") {
            s.saved_at = int64_t(r.U64());
        } else if (t == "CPU ") {
            good = seen_cpu = ParseCpu(r, s);
        } else if (t == "TIME") {
            good = seen_time = ParseTime(r, s);
        } else if (t == "MEM ") {
            good = seen_mem = length == MemorySize;
            if (good) s.memory.assign(r.p, r.p + length);
        } else if (t == "ROMD") {
            good = s.rom_differences && ParseRomRuns(r, s);
        } else if (t == "PORT") {
            r.Bytes(s.in_ports, 256);
            r.Bytes(s.out_ports, 256);
            good = seen_port = r.ok;
        } else if (t == "KEYS") {
            good = seen_keys = ParseKeys(r, s);
        } else if (t == "FILE") {
            good = ParseFiles(r, s, why);
        } else if (t == "ROMS") {
            s.basic_hash = r.U64();
            s.dev_dos_hash = r.U64();
            good = s.have_roms = r.ok;
        } else if (t == "SETS") {
            s.waitstates = int32_t(r.U32());
            s.files_folder = r.Text(r.U16());
            good = r.ok;
        } else if (t == "SHOT") {
            const uint16_t w = r.U16(), h = r.U16();
            good = r.ok && w == FramePixels && h == FrameLines;
            if (good) {
                s.picture.resize(size_t(FrameLines) * FramePixelBytes);
                r.Bytes(s.picture.data(), s.picture.size());
                good = s.has_picture = r.ok;
            }
        } // any other block is from a later version: skipped
        if (!good) {
            error = !why.empty() ? why : "its " + t.substr(0, t.find(' ')) + " block is not valid";
            return false;
        }
    }
    if (!(seen_cpu && seen_time && seen_mem && seen_port && seen_keys)) {
        error = "the file lacks part of the machine";
        return false;
    }
    return true;
}

// Reads a whole state file, refusing anything that is not a plain file of a sensible size.
bool ReadStateFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    const int fd = OpenPlainFileForReading(path.c_str());
    if (fd < 0) {
        error = errno ? std::strerror(errno) : "not a plain file";
        if (errno == 0 || errno == EISDIR) error = "not a plain file";
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || uint64_t(st.st_size) > MaxStateFileSize) {
        close(fd);
        error = "far too large to be a state file";
        return false;
    }
    bytes.resize(size_t(st.st_size) + 1); // one more: a file that grew shows as too long
    const size_t got = ReadUpTo(fd, bytes.data(), bytes.size());
    close(fd);
    if (got > size_t(st.st_size)) {
        error = "the file changed while it was read";
        return false;
    }
    bytes.resize(got);
    return true;
}

// ---- the machine -------------------------------------------------------------------------------

// Stops a running machine at an instruction boundary for as long as it lives. It raises PAUSE in
// the control flags only, not the pause the user sets: the clock goes on ticking (a tick due
// meanwhile waits in the flags, and is saved so), so a state taken every second costs the machine
// no time. A machine whose threads are not running is at a boundary already.
class Hold {
  public:
    Hold() {
        running_ = SystemRunning();
        if (!running_) return;
        raised_ = !(ReadControlFlags() & PAUSE);
        if (raised_) SetControlFlags(PAUSE);
        const auto limit = std::chrono::steady_clock::now() + PauseLimit;
        while (!ProcessorPaused() && SystemRunning()) {
            if (std::chrono::steady_clock::now() > limit) {
                held_ = false;
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    ~Hold() {
        // A pause taken meanwhile (the debugger stops the machine on its own thread) stays.
        if (raised_ && !SystemPaused()) ClearControlFlags(PAUSE);
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool held() const { return held_; }

  private:
    bool running_ = false;
    bool raised_ = false;
    bool held_ = true;
};

Staged Capture(bool with_picture) {
    Staged s;
    s.cpu = CpuState;
    s.timing = ReadProcessorTiming();
    const uint32_t flags = ReadControlFlags();
    s.flags = uint8_t((flags & TICK ? SavedTick : 0) | (flags & HALTED ? SavedHalted : 0));
    // The renderer's own count while its thread runs is not ours to read; the ticks then stand
    // for it.
    s.frame_count = SystemRunning() ? uint32_t(s.timing.ticks) : frame_count;
    s.memory.resize(MemorySize);
    for (uint32_t a = 0; a < MemorySize; ++a)
        s.memory[a] = ReadMemoryShared(uint16_t(a));
    for (const RomArea& area : RomAreas) {
        const uint8_t* now = &s.memory[area.address];
        for (uint32_t i = 0; i < area.size;) {
            if (now[i] == area.loaded[i]) {
                ++i;
                continue;
            }
            uint32_t end = i + 1; // past the last differing byte of the run
            for (uint32_t j = end; j < area.size && j < end + RunJoinGap; ++j)
                if (now[j] != area.loaded[j]) end = j + 1;
            s.rom_runs.emplace_back(uint16_t(area.address + i),
                                    std::vector<uint8_t>(now + i, now + end));
            i = end;
        }
    }
    for (int p = 0; p < 256; ++p) {
        s.in_ports[p] = ReadInPort(uint8_t(p));
        s.out_ports[p] = std::atomic_ref<uint8_t>(OutPorts[p]).load(std::memory_order_relaxed);
    }
    s.pacer = PacerSave();
    for (int n = 0; n < FileSlotCount; ++n) {
        Staged::Slot slot{uint8_t(n), {}};
        if (ReadFileSlot(n, slot.record)) s.slots.push_back(slot);
    }
    s.waitstates = Waitstates();
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    s.files_folder = folder;
    s.saved_at = int64_t(std::time(nullptr));
    if (with_picture) {
        s.have_roms = true;
        s.basic_hash = HashImageFile("basic.rom", BasicRomSize);
        s.dev_dos_hash = HashImageFile("dev_dos.rom", DevDosRomSize);
        uint8_t frame[FrameLines][FrameLineBytes];
        SystemPicture(frame);
        s.has_picture = true;
        s.picture.resize(size_t(FrameLines) * FramePixelBytes);
        for (int y = 0; y < FrameLines; ++y)
            std::memcpy(&s.picture[size_t(y) * FramePixelBytes], frame[y], FramePixelBytes);
    }
    return s;
}

// Puts a checked state into the machine; files says whether host file slots are restored.
void Apply(const Staged& s, bool files, std::vector<std::string>& closed) {
    for (uint32_t a = 0; a < MemorySize; ++a)
        WriteByte(uint16_t(a), s.memory[a]);
    if (s.rom_differences) {
        for (const RomArea& area : RomAreas)
            for (uint32_t i = 0; i < area.size; ++i)
                WriteByte(uint16_t(area.address + i), area.loaded[i]);
        for (const auto& [address, bytes] : s.rom_runs)
            for (size_t i = 0; i < bytes.size(); ++i)
                WriteByte(uint16_t(address + i), bytes[i]);
    }
    for (int p = 0; p < 256; ++p) {
        WriteInPort(uint8_t(p), s.in_ports[p]);
        std::atomic_ref<uint8_t>(OutPorts[p]).store(s.out_ports[p], std::memory_order_relaxed);
    }
    CpuState = s.cpu;
    RestoreProcessorTiming(s.timing);
    if (!SystemRunning()) frame_count = s.frame_count;
    ControlFlags.fetch_and(~(TICK | HALTED | RESET), std::memory_order_acq_rel);
    ControlFlags.fetch_or((s.flags & SavedTick ? TICK : 0) | (s.flags & SavedHalted ? HALTED : 0),
                          std::memory_order_release);
    PacerRestore(s.pacer); // port 56, the bus byte and KEY with it
    if (files) {
        CloseAllFileSlots();
        for (const Staged::Slot& slot : s.slots)
            if (const char* why = ReopenFileSlot(slot.number, slot.record))
                closed.push_back("slot " + std::to_string(slot.number) + " " + slot.record.name +
                                 ": " + why);
    }
    SystemRedraw();
}

StateResult Failure(std::string message) {
    StateResult r;
    r.message = std::move(message);
    return r;
}

std::string ClosedNote(const std::vector<std::string>& closed) {
    if (closed.empty()) return "";
    std::string note = "; host files closed:";
    for (size_t i = 0; i < closed.size(); ++i)
        note += (i ? ", " : " ") + closed[i];
    return note;
}

} // namespace

uint64_t StateHash64(const uint8_t* data, size_t size) { return Fnv1a64(data, size); }

uint32_t StateCrc32(const uint8_t* data, size_t size) { return uint32_t(crc32_z(0, data, size)); }

StateResult SystemSaveState(const std::string& path) {
    std::vector<uint8_t> bytes;
    {
        Hold hold;
        if (!hold.held()) return Failure("Cannot save the state: the machine did not stop.");
        bytes = Encode(Capture(true));
    }
    if (!WriteFileReplacing(path.c_str(), bytes.data(), bytes.size())) {
        const int error = errno;
        const std::string refusal = OutputRefusal(path.c_str());
        errno = error;
        return Failure("Cannot save the state to " + path + ": " +
                       (refusal.empty() ? std::strerror(errno) : "it is " + refusal) + ".");
    }
    StateResult r;
    r.ok = true;
    r.message = "Saved the state to " + path + ".";
    return r;
}

StateResult SystemLoadState(const std::string& path, bool force_other_roms) {
    std::vector<uint8_t> bytes;
    std::string error;
    Staged s;
    if (!ReadStateFile(path, bytes, error) || !Decode(bytes.data(), bytes.size(), s, error))
        return Failure("Cannot load the state " + path + ": " + error + ".");
    if (s.have_roms && !force_other_roms &&
        (s.basic_hash != HashImageFile("basic.rom", BasicRomSize) ||
         s.dev_dos_hash != HashImageFile("dev_dos.rom", DevDosRomSize))) {
        StateResult r = Failure("The state " + path +
                                " was saved with other ROM images than basic.rom and dev_dos.rom "
                                "here; not loaded.");
        r.other_roms = true;
        return r;
    }
    StateResult r;
    {
        Hold hold;
        if (!hold.held()) return Failure("Cannot load the state: the machine did not stop.");
        Apply(s, true, r.closed_slots);
    }
    r.ok = true;
    r.message = "Loaded the state " + path + ClosedNote(r.closed_slots) + ".";
    return r;
}

std::vector<uint8_t> CaptureStateBytes() {
    Hold hold;
    if (!hold.held()) return {};
    return Encode(Capture(false));
}

StateResult RestoreStateBytes(const std::vector<uint8_t>& bytes) {
    Staged s;
    std::string error;
    if (!Decode(bytes.data(), bytes.size(), s, error))
        return Failure("Cannot restore the state: " + error + ".");
    StateResult r;
    Hold hold;
    if (!hold.held()) return Failure("Cannot restore the state: the machine did not stop.");
    Apply(s, false, r.closed_slots);
    r.ok = true;
    return r;
}

bool ReadStateSummary(const std::string& path, StateSummary& summary, std::string& error) {
    std::vector<uint8_t> bytes;
    Staged s;
    if (!ReadStateFile(path, bytes, error) || !Decode(bytes.data(), bytes.size(), s, error))
        return false;
    summary.saved_at = s.saved_at;
    summary.has_picture = s.has_picture;
    if (s.has_picture)
        for (int y = 0; y < FrameLines; ++y)
            std::memcpy(summary.picture[y], &s.picture[size_t(y) * FramePixelBytes],
                        FramePixelBytes);
    return true;
}
