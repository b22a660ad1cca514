// The browser's front end to the machine: a few C functions the page script calls. Everything runs
// on the page's one thread: the script calls lb_run_tick from its frame clock (the deterministic
// path of system/system.h, which also steps the key pacer), so no thread is ever started.
//
// The script puts basic.rom, dev_dos.rom and font.bin (the free ones or the user's own) into the
// working folder of the in-memory file system before lb_boot; the script keeps the files folder
// Files/ under it in the browser's storage.
#include "system/debugger.h"
#include "system/pacer.h"
#include "system/rewind.h"
#include "system/startup.h"
#include "system/state.h"
#include "system/system.h"
#include "system/typing.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#define EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

uint8_t Frame[FrameLines][FrameLineBytes];
// Strings handed to the script stay valid until the next call that returns one.
std::string Text;

} // namespace

// 0 booted, lb_text what start-up notes (font.bin missing: the display stays black) or empty;
// 1 an image is missing (lb_text names the file).
EXPORT int lb_boot() {
    StartupReport report;
    const bool ok = SystemStartUp(StartupOptions{}, report);
    Text = ok ? report.Texts(StartupPolicy::Note, " ") : report.missing_image;
    RewindClear(); // the machine before is gone
    // The free BASIC's symbols, for its program as text; another basic.rom has none.
    DebugClearSymbols();
    if (ok) DebugLoadRomSymbols(".");
    return ok ? 0 : 1;
}

// Switching off and on: memory filled and the images in the working folder loaded afresh.
EXPORT int lb_power_cycle() {
    const char* missing = nullptr;
    const bool ok = SystemPowerCycle(&missing);
    RewindClear();
    Text = missing ? missing : "";
    return ok ? 0 : 1;
}

EXPORT void lb_reset() { SystemReset(); }

// One tick period: at a real ABC80's pace the processor stops when the period's budget is spent;
// as fast as possible it runs `instructions`.
// Rewind keeps a state once a second of the machine's time. Like the desktop's window, the page
// looks whether one is due at most every RewindPollInterval of its own time: as fast as possible
// the machine runs a second in a few milliseconds, and a state taken for each would cost the
// processor a twentieth of its speed.
namespace {
constexpr auto RewindPollInterval = std::chrono::milliseconds(20);
std::chrono::steady_clock::time_point RewindPolled{};
} // namespace
EXPORT int lb_run_tick(int instructions) {
    const bool on = SystemRunTick(instructions);
    if (!SystemPaused()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - RewindPolled >= RewindPollInterval) {
            RewindPolled = now;
            RewindPoll();
        }
    }
    return on ? 1 : 0;
}

// 0 a real ABC80's pace, 1 as fast as possible.
EXPORT void lb_set_speed(int max) { SystemSetRunPace(true, max ? SystemFullPace : SystemRealPace); }

EXPORT void lb_pause(int paused) {
    SystemPause(paused != 0);
    if (paused) PacerReleaseHeld();
}

// Stops the processor at once, inside a tick too, with the keys left as they are: the page holds
// the machine while a file it closed is on its way to the browser's storage. lb_pause(0) or
// lb_hold(0) lets it go on where it stopped.
EXPORT void lb_hold(int held) { SystemPause(held != 0); }

// The latest frame, FrameLines lines of FrameLineBytes bytes, one bit a pixel, most significant
// first, 1 white. Returns whether it changed since the last call; lb_frame points at it.
EXPORT int lb_take_frame() { return SystemTakeFrame(Frame) ? 1 : 0; }
EXPORT const uint8_t* lb_frame() { return &Frame[0][0]; }
EXPORT int lb_frame_lines() { return FrameLines; }
EXPORT int lb_frame_pixels() { return FramePixels; }
EXPORT int lb_frame_line_bytes() { return FrameLineBytes; }

EXPORT const char* lb_text() { return Text.c_str(); }

// The screen as 24 lines of UTF-8 text.
EXPORT const char* lb_screen_text() {
    Text = SystemScreenText();
    return Text.c_str();
}

// Text typed through the pacer. Returns the number of codes queued; lb_skipped the characters
// the ABC80 has no key for.
namespace {
size_t Skipped = 0;
}
EXPORT int lb_type(const char* utf8, int size) {
    std::string codes;
    Skipped = TextToCodes(utf8, size_t(size), codes);
    if (!codes.empty()) PacerType(codes);
    return int(codes.size());
}
EXPORT int lb_skipped() { return int(Skipped); }
EXPORT void lb_cancel_typing() { PacerCancelText(); }

// A host key went down. `cp` is the character it gives (0 for none); without Ctrl a character is
// the ABC80 key that gives it, otherwise the key goes by its set-1 scan code with the host's shift
// and control. Returns 1 when the machine got a key.
EXPORT int lb_key_down(int host, uint32_t cp, int scan_code, int shift, int control) {
    if (host < 0) return 0;
    const bool pressed =
        PacerNaturalKey(uint32_t(host), cp, unsigned(scan_code), shift != 0, control != 0);
    return pressed ? 1 : 0;
}
EXPORT void lb_key_up(int host) {
    if (host >= 0 && host < int(PacerHostKeys)) PacerNaturalRelease(uint32_t(host));
}
// The page lost the keyboard (focus elsewhere): let go of what is held.
EXPORT void lb_release_keys() { PacerReleaseHeld(); }

// The pacer's view of typing: [typing, done, total, queued behind, finished, cancelled].
EXPORT const uint32_t* lb_typing() {
    static uint32_t out[6];
    const PacerStatus s = PacerReadStatus();
    out[0] = s.typing;
    out[1] = uint32_t(s.text_done);
    out[2] = uint32_t(s.text_total);
    out[3] = uint32_t(s.text_queued);
    out[4] = uint32_t(s.texts_finished);
    out[5] = uint32_t(s.texts_cancelled);
    return out;
}
EXPORT int lb_keys_busy() { return PacerBusy() ? 1 : 0; }

// T-states executed since boot (a double holds them exactly for centuries of emulated time).
EXPORT double lb_tstates() { return double(SystemReadCounts().tstates); }
EXPORT double lb_ticks() { return double(SystemReadCounts().ticks); }
EXPORT double lb_instructions() { return double(SystemReadCounts().instructions); }

// A saved machine from a state file in the in-memory file system: 0 loaded, 1 refused, 2 refused
// only because it was saved with other ROM images (lb_load_state_anyway takes it); lb_text says
// why.
EXPORT int lb_load_state(const char* path) {
    const StateResult r = SystemLoadState(path, false);
    Text = r.message;
    if (r.ok) RewindClear();
    return r.ok ? 0 : r.other_roms ? 2 : 1;
}

// Host file writes that failed: the count; lb_text the latest.
EXPORT int lb_host_file_warnings() { return int(SystemHostFileWarnings(Text)); }

EXPORT int lb_load_state_anyway(const char* path) {
    const StateResult r = SystemLoadState(path, true);
    Text = r.message;
    if (r.ok) RewindClear();
    return r.ok ? 0 : 1;
}

// The machine into a state file in the in-memory file system, in the desktop program's format:
// 0 saved, 1 not (lb_text says why).
EXPORT int lb_save_state(const char* path) {
    const StateResult r = SystemSaveState(path);
    Text = r.message;
    return r.ok ? 0 : 1;
}

// One second of the machine's time back: 1 done, 0 nothing earlier kept. The page pauses first.
EXPORT int lb_rewind() { return RewindStepBack() ? 1 : 0; }
// How far back rewind reaches now, in seconds of the machine's time.
EXPORT double lb_rewind_seconds() { return double(RewindSpanTicks()) / 50.0; }

// The cells of rows top-bottom and columns left-right as UTF-8 text, a line between rows (what a
// mouse selection copies).
EXPORT const char* lb_screen_text_rect(int top, int left, int bottom, int right) {
    Text = SystemScreenTextRect(top, left, bottom, right);
    return Text.c_str();
}
EXPORT int lb_screen_rows() { return ScreenRows; }
EXPORT int lb_screen_columns() { return ScreenColumns; }

// The program in memory as LIST shows it: 0 and lb_text the text, or 1 and lb_text why not (the
// free BASIC's symbols are needed).
EXPORT int lb_program_text() {
    std::string error;
    if (DebugBasicProgram(Text, &error)) return 0;
    Text = error;
    return 1;
}
// Loads basic.rom.sym from the working folder when it describes the basic.rom there: 1 loaded.
EXPORT int lb_load_rom_symbols() { return DebugLoadRomSymbols(".") ? 1 : 0; }

// What an input method or the device's own keyboard gave: each character as the key stroke that
// gives it, after the keys before it. Returns the strokes queued (lb_skipped: what has no key).
EXPORT int lb_strokes(const char* utf8, int size) {
    std::string codes;
    Skipped = TextToCodes(utf8, size_t(size), codes);
    int queued = 0;
    for (const char code : codes) {
        KeyStroke key;
        if (KeyStrokeForCode(uint8_t(code), key)) {
            PacerStroke(key);
            ++queued;
        }
    }
    return queued;
}
// One key of the ABC80 keyboard by its set-1 scan code, pressed and released in turn.
EXPORT int lb_stroke(int scan_code, int shift, int control) {
    if (!IsCountedKey(unsigned(scan_code))) return 0;
    PacerStroke(KeyStroke{uint8_t(scan_code), shift != 0, control != 0});
    return 1;
}
