// The key pacer: the one way keys reach the keyboard model. Every front end hands it what the user
// does, and it presses the ABC80 keys in that order at the pace the machine takes them:
//
//   positional keys   a host key by its set-1 scan code, modifiers included (Swedish positions)
//   natural keys      the key stroke that gives a character (or a key at its place), by host key
//   text              paste, typed-in files, the runner's --type: a string of ABC80 codes
//
// One queue holds them all, in order. Whatever goes down waits until the machine has taken it
// (the processor accepted the keyboard interrupt and the emulated software read port 56 since),
// stays down for a hold time, and after its release a gap passes before the next key goes down.
// Hold and gap are counted in the processor's T-states, not host time: a busy host or a slow speed
// setting delays keys but never loses them, and at full speed keys go as fast as the ROM takes
// them. Keys typed while text is being typed wait behind it. Cancelling typing drops the text only;
// releasing the held keys (focus lost, a menu or dialog opened) lets go of what is down once the
// machine has taken it, and keeps every queued key.
//
// Threads: any thread may call these; a mutex guards the queue and the keyboard model, which only
// the pacer touches. Its steps come from the system's clock thread (every 100 microseconds while
// keys are on their way), from the processor's thread (every 1,024 instructions while busy, and
// when a real-speed period is spent), or from a deterministic driver between instructions. The
// mutex is never taken on the processor's per-instruction path.
#pragma once

#include "machine/keyboard.h"
#include "system/typing.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Host keys are named by a number below PacerHostKeys (X11 key codes are 8-255).
constexpr uint32_t PacerHostKeys = 256;
// Key events that may wait in the queue; beyond that a key is dropped and counted.
constexpr size_t PacerQueueLimit = 4096;

struct PacerPace {
    uint32_t hold_tstates = 3000;       // a key stays down this long after the machine took it
    uint32_t gap_tstates = 3000;        // after a release, before the next key goes down
    uint32_t enter_gap_tstates = 60000; // the same after Enter: the machine runs the line
};

struct PacerStatus {
    bool typing = false;        // text is being typed
    size_t text_done = 0;       // of the current text: codes typed so far
    size_t text_total = 0;      // and its length
    size_t text_queued = 0;     // codes of texts waiting behind it
    size_t keys_waiting = 0;    // key events waiting in the queue
    size_t not_taken = 0;       // keys the machine did not take (interrupts kept off), all time
    size_t dropped = 0;         // key events dropped because the queue was full, all time
    size_t texts_finished = 0;  // texts typed to the end, all time
    size_t texts_cancelled = 0; // texts cancelled, all time
};

// Empties the queue and lets go of every key the pacer holds; the pace returns to the default.
void PacerReset();
void PacerSetPace(const PacerPace& pace);

// A host key at its Swedish position: its set-1 scan code, pressed or released.
void PacerPositional(uint8_t scan_code, bool pressed);
// A natural-mode key: host key `host` gives this key stroke (exactly these modifiers). It stays
// down until the host key is released and the machine has taken it.
void PacerNaturalPress(uint32_t host, const KeyStroke& key);
void PacerNaturalRelease(uint32_t host);
// A host key went down in natural mode: `character` is what the host's layout makes of it (0 for
// none), `scan_code` its set-1 scan code, `shift` and `control` the host's modifiers. Without
// control, a printable character is pressed as the ABC80 key stroke that gives it, whatever key
// the host used; otherwise a key of the ABC80 keyboard goes by its place with the host's shift
// and control (Enter, Backspace, the arrows, Ctrl+letter). False, and nothing pressed, for a
// character the ABC80 lacks and for keys with no code (shift, control, Caps Lock, F-keys).
bool PacerNaturalKey(uint32_t host, uint32_t character, unsigned scan_code, bool shift,
                     bool control);
// Text as ABC80 codes (TextToCodes makes them from UTF-8), each pressed and released in turn.
// label names it in the typing status ("Paste", a file's name); skipped is how many characters
// TextToCodes left out, for the status to say.
void PacerType(const std::string& codes, const std::string& label = "Text", size_t skipped = 0);
// One key stroke pressed and released, as a text of one key would be but with the modifiers given.
void PacerStroke(const KeyStroke& key);

// Drops the text being typed and every text queued; typed keys stay in the queue. Returns how
// many codes of them the machine had not taken (a key of the text down and not yet taken counts).
size_t PacerCancelText();
// The processor is being reset: it drops a keyboard interrupt not yet accepted and the software
// starts afresh, so a key still waiting to be taken never will be. It counts as not taken, and
// the text is dropped as PacerCancelText does; typed keys still arrive.
void PacerMachineReset();
// The host keys are no longer down (focus lost, a menu or dialog took the keyboard): what the
// pacer holds is let go of once the machine has taken it; queued keys stay, as presses and
// releases.
void PacerReleaseHeld();

// Advances the queue; call often (every 100 microseconds or so of host time while PacerBusy, or
// between instructions in a deterministic driver). Returns PacerBusy().
bool PacerStep();
// A recorded session: observer hears of every event that reaches the keyboard model (see
// KeyboardObserver), null for none. With from_processor, keys go down and up only in
// PacerProcessorLook and PacerPeriodEnd, on the processor's own thread at an instruction boundary,
// never from another thread (PacerStep then only reports), so a session recorded while the
// machine's threads run notes each key at the T-state count where the machine saw it.
void PacerRecordKeys(void (*observer)(unsigned scan_code, bool pressed), bool from_processor);
// A recorded session being replayed presses the keys itself: on empties the queue and what the
// pacer holds (the keyboard model stays as it is) and ignores every key and text handed in until
// off, which lets go of every key the session left down.
void PacerReplay(bool on);
// A recorded key event, put to the keyboard model as it was recorded (ReleaseAllKeys: every key).
void PacerReplayKey(unsigned scan_code, bool pressed);
// A look from the processor's thread every so many instructions: returns at once unless keys are
// on their way, so a paste at full speed goes as fast as the ROM takes keys.
void PacerProcessorLook();
// Whether keys are on their way, so that the looks matter (false: PacerProcessorLook returns at
// once, until a front end gives the pacer something to do).
bool PacerArmed();
// The processor has spent its tick period at real speed and waits for the next tick (called on
// its thread, or by a deterministic driver): what waits only for its time goes now.
void PacerPeriodEnd();
// True while anything is queued or held.
bool PacerBusy();
// Called under the pacer's lock: came, on the caller's thread, when a key or text is given (so
// that whoever steps the pacer does so now); taken, on whichever thread stepped it, when the
// machine has taken a key that went down (its software has the key now). Set before keys are
// given; null for none.
void SetPacerHooks(void (*came)(), void (*taken)());
PacerStatus PacerReadStatus();

// The typing status as a status bar shows it. While a text is under way: "LABEL: 12 of 80
// characters (HINT), 3 typed keys waiting" (hint: how to cancel, left out when empty). Otherwise,
// once, what became of the last text that ended since the previous call: "LABEL: typed 80
// characters, skipped 2 with no ABC80 character" or "LABEL: cancelled after 12 of 80 characters",
// with ", 1 not taken by the machine" for keys the machine did not take meanwhile. Texts of a
// restored snapshot are "Text from the state". One reader (the window) calls it.
struct PacerTypingReport {
    std::string text;    // empty: nothing new to say
    bool typing = false; // a text is under way (what PacerCancelText would stop)
};
PacerTypingReport PacerTypingStatus(const std::string& cancel_hint = "");
// Everything the pacer and the keyboard model hold, for a saved machine: the queue in order, the
// texts, the keys down, the wait for the machine to take a key, the pace, and the keyboard's side
// of the bus (port 56, the bus byte, KEY). Taken and restored under the pacer's lock, so a key on
// its way is never half in it; T-state and tick marks refer to the processor's counters, which
// are saved with it.
struct PacerSnapshot {
    struct QueuedKey {
        uint8_t kind; // 0 positional, 1 natural, 2 stroke, 3 text, 4 release of the keyboard
        uint8_t scan_code;
        bool pressed;
        uint32_t host;
        KeyStroke key;
        bool released;
    };
    struct HeldKey {
        uint32_t host; // natural keys: the host key; PacerHostKeys for the typed key
        bool host_up;
        bool caps_toggled;
        KeyStroke key;
    };
    std::vector<QueuedKey> queue;
    std::vector<std::string> texts; // one per text in the queue, in order
    uint64_t text_next = 0;         // codes of the first text typed so far
    std::vector<HeldKey> held;
    uint8_t typed_code = 0;
    bool typed_is_text = false;
    std::vector<uint8_t> positional_down; // scan codes of positional keys down
    bool waiting_take = false;
    KeyWatch watch{};
    uint64_t ready_at = 0;
    bool after_enter = false;
    PacerPace pace{};
    KeyboardRecord keyboard{};
    uint8_t key_port = 0;    // InPorts[56]
    uint8_t bus_byte = 0;    // the mode 2 interrupt's byte
    bool key_flag = false;   // KEY raised and not yet accepted
    uint32_t port_reads = 0; // reads of port 56 so far
};
PacerSnapshot PacerSave();
// Whether a snapshot read from a file can be the pacer's (kinds and keys in range, one text per
// text in the queue); PacerRestore takes only such snapshots.
bool PacerSnapshotValid(const PacerSnapshot& snapshot);
void PacerRestore(const PacerSnapshot& snapshot);

// The keyboard model as the pacer left it, read under its lock (the pacer may be pressing keys on
// another thread).
KeyboardRecord PacerKeyboard();
