// Recorded sessions: the machine's starting state and everything that reached it from outside
// afterwards, each at the T-state count where the machine saw it, so that a replay runs the same
// instructions and shows the same screens at the same ticks. The file's format is our own and
// documented in docs/recording-format.md.
//
// What comes from outside, and is recorded: every event the keyboard model gets (a key down or
// up by its scan code, or all keys let go of), every TICK the processor takes and every RESET.
// All of them reach the machine at an instruction boundary, before that step's poll: keys from
// the pacer's looks (on the processor's thread while the machine's threads run, see
// PacerRecordKeys), ticks and resets in the poll itself, a reset raised only while the machine
// is held. The LD A,R generator is seeded from the recording at the start and at every reset.
// Host files are read as they are when the session is replayed: a program that reads a file
// changed since may take another way (the replay says that it left the recording).
//
// Call from the front end's thread (the one that saves and loads states).
#pragma once

#include "display/display.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr const char* RecordingFileExtension = ".lbr";
// A recording is a state (about 80 KB) and a few bytes a key or tick; far beyond this it is not
// one of ours.
constexpr size_t MaxRecordingFileSize = 256u << 20;

// ---- recording ---------------------------------------------------------------------------------

// Starts recording the machine as it stands (running or not; it is held a moment), to be written
// to path when the recording ends. False, with message saying why, when it cannot start (a
// recording or a replay under way, the machine did not stop).
bool RecordStart(const std::string& path, std::string& message);
bool Recording();
// Ends the recording at the machine's current instruction boundary and writes the file (through
// a temporary file renamed over path). message says what was written, or why not.
bool RecordStop(std::string& message);
// What a recording under way holds so far: ticks and key events.
struct RecordCounts {
    uint64_t ticks = 0;
    uint64_t keys = 0;
};
RecordCounts RecordReadCounts();

// A power cycle, a loaded state or a rewind makes the machine one the recording cannot follow:
// the recording ends there and is written, and a replay stops. The message (empty when nothing
// was under way) is also kept for RecordTakeNotice.
std::string RecordingInterrupt();
// A message about a recording or replay that ended by itself since the last call (the end of a
// replay, a recording cut short), else empty. For a status bar.
std::string RecordTakeNotice();
void RecordPostNotice(const std::string& message);

// ---- the file ----------------------------------------------------------------------------------

enum class RecordedKind : uint8_t {
    End = 0,
    Tick = 1,
    Reset = 2,
    KeyDown = 3,
    KeyUp = 4,
    KeysUp = 5
};
struct RecordedEvent {
    uint64_t tstates; // the processor's T-state count where it happened
    RecordedKind kind;
    uint8_t scan_code; // KeyDown, KeyUp: the set-1 scan code
};
struct RecordingFile {
    uint32_t seed = 0;                 // the LD A,R generator's seed at every reset
    uint64_t start_tstates = 0;        // the T-state count of the starting state
    std::vector<uint8_t> state;        // the starting state, as a state file holds it
    std::vector<RecordedEvent> events; // in order, the last one End
    uint64_t ticks = 0;                // Tick events
};
std::vector<uint8_t> EncodeRecording(const RecordingFile& recording);
// Checks the whole file (its length, CRC, every event; the state only as far as its length): false,
// with error saying why, for anything damaged or cut short.
bool DecodeRecording(const uint8_t* data, size_t size, RecordingFile& recording,
                     std::string& error);
bool ReadRecordingFile(const std::string& path, RecordingFile& recording, std::string& error);

// ---- replay ------------------------------------------------------------------------------------

struct ReplayResult {
    bool ok = false;
    std::string message;     // one line: what was done, or why not
    bool other_roms = false; // refused only for being recorded with other ROM images
};

// Deterministic replay on the caller's thread, with the machine's threads not running (the
// runner, tests): ReplayBegin loads the recording's state (ROM images compared as for a state
// file) and takes over the keyboard and the ticks; each SystemReplayTick (system/recording.h,
// in system.cpp) runs the machine to the next recorded tick; ReplayFinish gives the machine back
// where the session ended.
ReplayResult ReplayBegin(const std::string& path, bool force_other_roms);
enum class ReplayTick : uint8_t { Ticked, Ended, Paused, Quit };
// Runs to the session's next tick and raises it (the frame is the caller's), or to its end.
ReplayTick ReplayRunTick();
struct ReplayStatus {
    bool active = false;
    uint64_t ticks_done = 0;
    uint64_t ticks_total = 0;
    // The machine reached an event's T-state count past where it was recorded: the replay runs
    // on but is no longer the session (a host file that changed, a damaged state).
    bool left_recording = false;
    uint64_t left_at_tick = 0;
};
ReplayStatus ReplayReadStatus();
// Ends the replay: the pace, the keyboard (what the session held down is let go of) and the LD A,R
// generator's seeding go back to what they were. A message naming how it went.
std::string ReplayFinish();
bool Replaying();

// A replay's frames as an animated GIF for sharing (display/gif_file.h; not in the browser
// build): AddFrame after each SystemReplayTick that ticked, Write at the end.
struct GifAnimation;
class ReplayGif {
  public:
    ReplayGif();
    ~ReplayGif();
    ReplayGif(const ReplayGif&) = delete;
    ReplayGif& operator=(const ReplayGif&) = delete;
    void AddFrame(); // the frame the last tick drew
    bool Write(const std::string& path, std::string& error);

  private:
    std::unique_ptr<GifAnimation> gif_;
};

// The deterministic tick of a replay: ReplayRunTick, then the frame rendered and handed on as
// SystemRunTick does. Defined in system.cpp.
ReplayTick SystemReplayTick();

// In the window: the recording replayed on the machine's threads, one recorded tick every 20 ms
// (as fast as possible with turbo or that pace); pause, hold and the debugger work as usual, keys
// and resets are ignored. At the end the machine runs on from where the session ended. False with
// a message when the recording cannot be played (nothing changed then).
ReplayResult SystemPlay(const std::string& path, bool force_other_roms);
// Ends a replay under way; the machine runs on from where the replay was.
void SystemStopPlaying();
bool SystemPlaying();
