#include "system/recording.h"

#include "cpu/bus.h"
#include "cpu/processor.h"
#include "host/file_io.h"
#include "machine/keyboard.h"
#include "system/hold.h"
#include "system/pacer.h"
#include "system/state.h"
#include "system/system.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Magic[4] = {'L', 'B', 'R', 'C'};
constexpr uint16_t FormatVersion = 1;
constexpr size_t HeaderSize = 24; // magic, version, reserved, seed, start T-states, state length

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> 8 * i));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(uint8_t(v >> 8 * i));
}
uint64_t Get(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}
// Unsigned LEB128: seven bits a byte, low first, the top bit set on all but the last.
void PutVarint(std::vector<uint8_t>& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}
bool GetVarint(const uint8_t*& p, const uint8_t* end, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (p == end) return false;
        const uint8_t b = *p++;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

bool HasScanCode(RecordedKind kind) {
    return kind == RecordedKind::KeyDown || kind == RecordedKind::KeyUp;
}

// ---- the recorder ------------------------------------------------------------------------------

// The recording under way. Events are appended by the thread that runs the processor (its poll
// and the pacer's looks on it) and read by the front end's thread only while the machine is held.
struct Recorder {
    bool active = false;
    std::string path;
    RecordingFile file;
    std::vector<uint8_t> events; // encoded as they come
    uint64_t last_tstates = 0;   // of the previous event
    bool prior_seed_fixed = false;
    uint32_t prior_seed = 0;
} Rec;

// What the recording holds so far, for any thread to read.
std::atomic<uint64_t> RecTicks{0}, RecKeys{0};

std::string Notice; // for RecordTakeNotice

// The file: header, state, the events already encoded, CRC-32.
std::vector<uint8_t> Assemble(uint32_t seed, uint64_t start, const std::vector<uint8_t>& state,
                              const std::vector<uint8_t>& events) {
    std::vector<uint8_t> out(Magic, Magic + 4);
    Put16(out, FormatVersion);
    Put16(out, 0);
    Put32(out, seed);
    Put64(out, start);
    Put32(out, uint32_t(state.size()));
    out.insert(out.end(), state.begin(), state.end());
    Put32(out, uint32_t(events.size()));
    out.insert(out.end(), events.begin(), events.end());
    Put32(out, StateCrc32(out.data(), out.size()));
    return out;
}

void Append(RecordedKind kind, uint64_t tstates, uint8_t scan_code) {
    // Events come in order of the machine's time; never let a delta go negative.
    const uint64_t t = tstates < Rec.last_tstates ? Rec.last_tstates : tstates;
    PutVarint(Rec.events, t - Rec.last_tstates);
    Rec.events.push_back(uint8_t(kind));
    if (HasScanCode(kind)) Rec.events.push_back(scan_code);
    Rec.last_tstates = t;
}

void OnMachineEvent(uint32_t event, uint64_t tstates) {
    if (event == MachineEventTick) {
        Append(RecordedKind::Tick, tstates, 0);
        RecTicks.fetch_add(1, std::memory_order_relaxed);
    } else if (event == MachineEventReset) {
        Append(RecordedKind::Reset, tstates, 0);
    }
}

// Keys reach the model at a boundary with the processor's counts published (see pacer.h).
void OnKey(unsigned scan_code, bool pressed) {
    const uint64_t now = ReadProcessorCounts().tstates;
    if (scan_code == ReleaseAllKeys)
        Append(RecordedKind::KeysUp, now, 0);
    else
        Append(pressed ? RecordedKind::KeyDown : RecordedKind::KeyUp, now, uint8_t(scan_code));
    RecKeys.fetch_add(1, std::memory_order_relaxed);
}

void Disarm() {
    SetMachineEventHook(nullptr);
    PacerRecordKeys(nullptr, false);
    SetResetRefreshSeed(Rec.prior_seed_fixed, Rec.prior_seed);
}

// ---- the replay --------------------------------------------------------------------------------

struct Replay {
    std::string path;
    RecordingFile file;
    size_t next = 0; // the next event
    uint64_t ticks_done = 0;
    bool left = false;
    uint64_t left_at_tick = 0;
    bool prior_seed_fixed = false;
    uint32_t prior_seed = 0;
} Play;
// A replay is under way (read by other threads: the pace, the clock).
std::atomic<bool> PlayActive{false};
std::mutex NoticeMutex;

void ApplyEvent(const RecordedEvent& e) {
    switch (e.kind) {
    case RecordedKind::Tick: SetControlFlags(TICK); break;
    case RecordedKind::Reset: SetControlFlags(RESET); break;
    case RecordedKind::KeyDown: PacerReplayKey(e.scan_code, true); break;
    case RecordedKind::KeyUp: PacerReplayKey(e.scan_code, false); break;
    case RecordedKind::KeysUp: PacerReplayKey(ReleaseAllKeys, false); break;
    case RecordedKind::End: break;
    }
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

// ---- the file ----------------------------------------------------------------------------------

std::vector<uint8_t> EncodeRecording(const RecordingFile& r) {
    std::vector<uint8_t> events;
    uint64_t last = r.start_tstates;
    for (const RecordedEvent& e : r.events) {
        PutVarint(events, e.tstates - last);
        events.push_back(uint8_t(e.kind));
        if (HasScanCode(e.kind)) events.push_back(e.scan_code);
        last = e.tstates;
    }
    return Assemble(r.seed, r.start_tstates, r.state, events);
}

bool DecodeRecording(const uint8_t* data, size_t size, RecordingFile& r, std::string& error) {
    r = RecordingFile{};
    if (size < 4 || std::memcmp(data, Magic, 4) != 0) {
        error = "not a recorded session";
        return false;
    }
    if (size < HeaderSize + 8) {
        error = "the file is cut short";
        return false;
    }
    const uint16_t version = uint16_t(Get(data + 4, 2));
    if (version != FormatVersion) {
        error =
            "a recording of format " + std::to_string(version) + ", which this version cannot play";
        return false;
    }
    r.seed = uint32_t(Get(data + 8, 4));
    r.start_tstates = Get(data + 12, 8);
    const uint64_t state_size = Get(data + 20, 4);
    if (HeaderSize + state_size + 8 > size) {
        error = "the file is cut short";
        return false;
    }
    const uint8_t* events = data + HeaderSize + state_size + 4;
    const uint64_t events_size = Get(data + HeaderSize + state_size, 4);
    if (HeaderSize + state_size + 4 + events_size + 4 != size) {
        error = HeaderSize + state_size + 4 + events_size + 4 > size
                    ? "the file is cut short"
                    : "the file is longer than its blocks";
        return false;
    }
    if (StateCrc32(data, size - 4) != uint32_t(Get(data + size - 4, 4))) {
        error = "the file is damaged (its CRC-32 does not match)";
        return false;
    }
    r.state.assign(data + HeaderSize, data + HeaderSize + state_size);
    const uint8_t* p = events;
    const uint8_t* end = events + events_size;
    uint64_t t = r.start_tstates;
    while (p != end) {
        uint64_t delta = 0;
        if (!GetVarint(p, end, delta) || p == end || delta > UINT64_MAX - t) {
            error = "an event is cut short";
            return false;
        }
        t += delta;
        RecordedEvent e{t, RecordedKind(*p++), 0};
        if (uint8_t(e.kind) > uint8_t(RecordedKind::KeysUp)) {
            error = "an event of unknown kind " + std::to_string(unsigned(e.kind));
            return false;
        }
        if (HasScanCode(e.kind)) {
            if (p == end) {
                error = "an event is cut short";
                return false;
            }
            e.scan_code = *p++;
        }
        r.events.push_back(e);
        r.ticks += e.kind == RecordedKind::Tick;
        if (e.kind == RecordedKind::End && p != end) {
            error = "events follow the end of the session";
            return false;
        }
    }
    if (r.events.empty() || r.events.back().kind != RecordedKind::End) {
        error = "the session has no end";
        return false;
    }
    return true;
}

bool ReadRecordingFile(const std::string& path, RecordingFile& r, std::string& error) {
    const int fd = OpenPlainFileForReading(path.c_str());
    if (fd < 0) {
        error = errno && errno != EISDIR ? std::strerror(errno) : "not a plain file";
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || uint64_t(st.st_size) > MaxRecordingFileSize) {
        close(fd);
        error = "far too large to be a recorded session";
        return false;
    }
    std::vector<uint8_t> bytes(size_t(st.st_size) + 1);
    const size_t got = ReadUpTo(fd, bytes.data(), bytes.size());
    close(fd);
    if (got > size_t(st.st_size)) {
        error = "the file changed while it was read";
        return false;
    }
    return DecodeRecording(bytes.data(), got, r, error);
}

// ---- recording ---------------------------------------------------------------------------------

bool RecordStart(const std::string& path, std::string& message) {
    if (Rec.active || PlayActive.load()) {
        message = Rec.active ? "A recording is under way already."
                             : "Cannot record while a recorded session is replayed.";
        return false;
    }
    MachineHold hold;
    if (!hold.held()) {
        message = "Cannot start recording: the machine did not stop.";
        return false;
    }
    Rec = Recorder{};
    RecTicks.store(0);
    RecKeys.store(0);
    // Resets from here on seed the LD A,R generator with where it stands now, so a replay
    // repeats them; the generator itself goes on as it was.
    Rec.prior_seed_fixed = ReadRefreshSeed(Rec.prior_seed);
    Rec.file.seed = ReadProcessorTiming().refresh_state;
    SetResetRefreshSeed(true, Rec.file.seed);
    Rec.file.state = CaptureStateFileBytes();
    if (Rec.file.state.empty()) {
        SetResetRefreshSeed(Rec.prior_seed_fixed, Rec.prior_seed);
        message = "Cannot start recording: the machine did not stop.";
        return false;
    }
    Rec.file.start_tstates = Rec.last_tstates = ReadProcessorCounts().tstates;
    Rec.path = path;
    Rec.events.reserve(1u << 16);
    Rec.active = true;
    SetMachineEventHook(OnMachineEvent);
    PacerRecordKeys(OnKey, SystemRunning());
    message = "Recording to " + path + ".";
    return true;
}

bool Recording() { return Rec.active; }

RecordCounts RecordReadCounts() {
    RecordCounts c;
    if (!Rec.active) return c;
    c.ticks = RecTicks.load(std::memory_order_relaxed);
    c.keys = RecKeys.load(std::memory_order_relaxed);
    return c;
}

bool RecordStop(std::string& message) {
    if (!Rec.active) {
        message = "No recording is under way.";
        return false;
    }
    std::vector<uint8_t> events;
    {
        MachineHold hold; // a held machine is at a boundary: where the session ends
        Disarm();
        Rec.active = false;
        // A TICK raised and not yet taken is part of where the session ends: the replay raises
        // it there too (and shows its frame).
        const uint64_t end = ReadProcessorCounts().tstates;
        if (ReadControlFlags() & TICK) {
            Append(RecordedKind::Tick, end, 0);
            RecTicks.fetch_add(1, std::memory_order_relaxed);
        }
        Append(RecordedKind::End, end, 0);
        events.swap(Rec.events);
    }
    const std::vector<uint8_t> out =
        Assemble(Rec.file.seed, Rec.file.start_tstates, Rec.file.state, events);
    const std::string& path = Rec.path;
    if (!WriteFileReplacing(path.c_str(), out.data(), out.size())) {
        const int error = errno;
        const std::string refusal = OutputRefusal(path.c_str());
        message = "Cannot write the recording " + path + ": " +
                  (refusal.empty() ? std::strerror(error) : "it is " + refusal) + ".";
        return false;
    }
    message = "Recorded " + Plural(RecTicks.load(), "tick", "ticks") + " (" +
              Plural(RecKeys.load(), "key event", "key events") + ") to " + path + ".";
    return true;
}

std::string RecordingInterrupt() {
    std::string message;
    if (Rec.active) {
        RecordStop(message);
        message = "Recording ended: " + message;
    }
    if (SystemPlaying()) {
        SystemStopPlaying();
        message += (message.empty() ? "" : " ") + std::string("Replay stopped.");
    }
    if (!message.empty()) RecordPostNotice(message);
    return message;
}

std::string RecordTakeNotice() {
    std::lock_guard lock(NoticeMutex);
    std::string n;
    n.swap(Notice);
    return n;
}

void RecordPostNotice(const std::string& message) {
    std::lock_guard lock(NoticeMutex);
    Notice = message;
}

// ---- replay ------------------------------------------------------------------------------------

ReplayResult ReplayBegin(const std::string& path, bool force_other_roms) {
    ReplayResult result;
    if (Rec.active || PlayActive.load()) {
        result.message = Rec.active ? "Cannot replay while recording."
                                    : "A recorded session is replayed already.";
        return result;
    }
    RecordingFile file;
    std::string error;
    if (!ReadRecordingFile(path, file, error)) {
        result.message = "Cannot play the recording " + path + ": " + error + ".";
        return result;
    }
    uint32_t prior_seed = 0;
    const bool prior_fixed = ReadRefreshSeed(prior_seed);
    SetResetRefreshSeed(true, file.seed);
    const StateResult loaded = LoadStateBytes(file.state, force_other_roms, path);
    if (!loaded.ok) {
        SetResetRefreshSeed(prior_fixed, prior_seed);
        result.message =
            loaded.other_roms
                ? "The recording " + path +
                      " was made with other ROM images than basic.rom and "
                      "dev_dos.rom here; not played."
                : "Cannot play the recording " + path + ": its state: " + loaded.message;
        result.other_roms = loaded.other_roms;
        return result;
    }
    if (ReadProcessorCounts().tstates != file.start_tstates) {
        SetResetRefreshSeed(prior_fixed, prior_seed);
        result.message =
            "Cannot play the recording " + path + ": its state does not start where its events do.";
        return result;
    }
    Play = Replay{};
    Play.path = path;
    Play.file = std::move(file);
    Play.prior_seed_fixed = prior_fixed;
    Play.prior_seed = prior_seed;
    PacerReplay(true);
    PlayActive.store(true);
    SystemApplyPace(); // the recorded ticks decide when the machine runs
    result.ok = true;
    result.message = "Playing " + path + " (" + Plural(Play.file.ticks, "tick", "ticks") + ").";
    return result;
}

ReplayTick ReplayRunTick() {
    if (!PlayActive.load()) return ReplayTick::Ended;
    while (Play.next < Play.file.events.size()) {
        const RecordedEvent& e = Play.file.events[Play.next];
        for (;;) {
            if (ReadProcessorCounts().tstates >= e.tstates) break;
            const RunResult r = ProcessorRunTo(e.tstates, LONG_MAX);
            if (r.end == RunEnd::Quit) return ReplayTick::Quit;
            if (r.end == RunEnd::Paused) return ReplayTick::Paused;
            // Halted with time still to go: only a tick would wake it, and the next event is
            // not one. The recording and the machine have parted; the event goes in now.
            if (r.end == RunEnd::Halted) break;
        }
        if (ReadProcessorCounts().tstates != e.tstates && !Play.left) {
            Play.left = true;
            Play.left_at_tick = Play.ticks_done;
        }
        ApplyEvent(e);
        ++Play.next;
        if (e.kind == RecordedKind::Tick) {
            ++Play.ticks_done;
            return ReplayTick::Ticked;
        }
        if (e.kind == RecordedKind::End) return ReplayTick::Ended;
    }
    return ReplayTick::Ended;
}

ReplayStatus ReplayReadStatus() {
    ReplayStatus s;
    s.active = PlayActive.load();
    s.ticks_done = Play.ticks_done;
    s.ticks_total = Play.file.ticks;
    s.left_recording = Play.left;
    s.left_at_tick = Play.left_at_tick;
    return s;
}

std::string ReplayFinish() {
    if (!PlayActive.load()) return "";
    PlayActive.store(false);
    SystemApplyPace();
    PacerReplay(false);
    SetResetRefreshSeed(Play.prior_seed_fixed, Play.prior_seed);
    const bool ended = Play.next >= Play.file.events.size();
    std::string message = (ended ? "Played " : "Stopped playing ") + Play.path + " at tick " +
                          std::to_string(Play.ticks_done) + " of " +
                          std::to_string(Play.file.ticks) + ".";
    if (Play.left)
        message += " The machine left the recording at tick " + std::to_string(Play.left_at_tick) +
                   " (a host file it read may have changed).";
    Play.file = RecordingFile{};
    return message;
}

bool Replaying() { return PlayActive.load(); }
