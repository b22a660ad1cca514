#include "system/state.h"

#include "cpu/processor.h"
#include "host/file_io.h"
#include "host/settings.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "system/pacer.h"
#include "system/recording.h"
#include "system/hold.h"
#include "system/state_format.h"
#include "system/system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// FNV-1a 64 of an image file as the loader reads it (its first `limit` bytes); 0 when missing.
uint64_t HashImageFile(const char* name, size_t limit) {
    const int fd = OpenPlainFileForReading(name);
    if (fd < 0) return 0;
    std::vector<uint8_t> bytes(limit);
    const size_t got = ReadUpTo(fd, bytes.data(), limit);
    close(fd);
    return StateHash64(bytes.data(), got);
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

StagedState Capture(bool with_picture) {
    StagedState s;
    s.cpu = CpuState;
    s.timing = ReadProcessorTiming();
    const uint32_t flags = ReadControlFlags();
    s.flags = uint8_t((flags & TICK ? StateTick : 0) | (flags & HALTED ? StateHalted : 0));
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
        StagedState::Slot slot{uint8_t(n), {}};
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
void Apply(const StagedState& s, bool files, std::vector<std::string>& closed) {
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
    ControlFlags.fetch_or((s.flags & StateTick ? TICK : 0) | (s.flags & StateHalted ? HALTED : 0),
                          std::memory_order_release);
    PacerRestore(s.pacer); // port 56, the bus byte and KEY with it
    if (files) {
        CloseAllFileSlots();
        for (const StagedState::Slot& slot : s.slots)
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

StateResult SystemSaveState(const std::string& path) {
    std::vector<uint8_t> bytes;
    {
        MachineHold hold;
        if (!hold.held()) return Failure("Cannot save the state: the machine did not stop.");
        bytes = EncodeState(Capture(true));
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
    RecordingInterrupt(); // a recording cannot follow the machine into another state
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadStateFile(path, bytes, error))
        return Failure("Cannot load the state " + path + ": " + error + ".");
    return LoadStateBytes(bytes, force_other_roms, path);
}

std::vector<uint8_t> CaptureStateFileBytes() {
    MachineHold hold;
    if (!hold.held()) return {};
    return EncodeState(Capture(true));
}

StateResult LoadStateBytes(const std::vector<uint8_t>& bytes, bool force_other_roms,
                           const std::string& path) {
    std::string error;
    StagedState s;
    if (!DecodeState(bytes.data(), bytes.size(), s, error))
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
        MachineHold hold;
        if (!hold.held()) return Failure("Cannot load the state: the machine did not stop.");
        Apply(s, true, r.closed_slots);
    }
    r.ok = true;
    r.message = "Loaded the state " + path + ClosedNote(r.closed_slots) + ".";
    return r;
}

std::vector<uint8_t> CaptureStateBytes() {
    MachineHold hold;
    if (!hold.held()) return {};
    return EncodeState(Capture(false));
}

StateResult RestoreStateBytes(const std::vector<uint8_t>& bytes) {
    RecordingInterrupt();
    StagedState s;
    std::string error;
    if (!DecodeState(bytes.data(), bytes.size(), s, error))
        return Failure("Cannot restore the state: " + error + ".");
    StateResult r;
    MachineHold hold;
    if (!hold.held()) return Failure("Cannot restore the state: the machine did not stop.");
    Apply(s, false, r.closed_slots);
    r.ok = true;
    return r;
}

bool ReadStateSummary(const std::string& path, StateSummary& summary, std::string& error) {
    std::vector<uint8_t> bytes;
    StagedState s;
    if (!ReadStateFile(path, bytes, error) || !DecodeState(bytes.data(), bytes.size(), s, error))
        return false;
    summary.saved_at = s.saved_at;
    summary.has_picture = s.has_picture;
    if (s.has_picture)
        for (int y = 0; y < FrameLines; ++y)
            std::memcpy(summary.picture[y], &s.picture[size_t(y) * FramePixelBytes],
                        FramePixelBytes);
    return true;
}
