#include "system/pacer.h"

#include "cpu/processor.h"
#include "machine/charmap.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/ports.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <deque>
#include <mutex>

namespace {

enum class Kind : uint8_t { Positional, Natural, Stroke, Text, ReleaseKeyboard };

struct Item {
    Kind kind;
    uint8_t scan_code = 0; // Positional
    bool pressed = false;  // Positional
    uint32_t host = 0;     // Natural
    KeyStroke key{};       // Natural, Stroke
    bool released = false; // Natural: the host key went up while the press waited
};

// A key the pacer put down as a stroke (natural keys, text, strokes).
struct Held {
    bool down = false;
    bool host_up = false; // natural keys: the host key is up, let go once taken and held
    bool caps_toggled = false;
    KeyStroke key{};
};

std::mutex Mutex;
std::deque<Item> Queue;
std::deque<std::string> Texts; // the codes of the Text items, in queue order
size_t TextNext = 0;           // the next code of Texts.front()

// What the typing status says of each text, beside Texts.
struct TextLabel {
    std::string label;
    size_t skipped = 0; // characters left out when the text was made
};
std::deque<TextLabel> Labels;
std::string Ended;       // what became of the last text that ended, until the status says it
size_t NotTakenSaid = 0; // Counts.not_taken when the status last spoke of keys not taken
const char* const RestoredLabel = "Text from the state";
PacerPace KeyPace;

Held Natural[PacerHostKeys]; // natural keys down, by host key
Held Typed;                  // the key of a text or a stroke that is down
uint8_t TypedCode = 0;       // its code (Enter gets the longer gap)
bool TypedIsText = false;    // it belongs to a text (cancelling typing lets go of it)
bool PositionalDown[256] = {};

bool WaitingTake = false; // a counted key went down and the machine has not taken it yet
KeyWatch Watch;
uint64_t ReadyAt = 0;    // processor T-states before which nothing more happens
bool AfterEnter = false; // ReadyAt ends the pause after Enter
PacerStatus Counts;      // the all-time counts
std::atomic<bool> Armed{
    false}; // Busy() as of the last change: the processor's hook looks only then
// Keys go down and up only from the processor's own looks (PacerKeysFromProcessor).
bool ProcessorOnly = false;
bool Replaying = false; // a recorded session presses the keys: the queue takes none and stands
bool LetGoTypedPending = false; // a cancelled text's key, let go at the processor's next look

void (*CameHook)() = nullptr;
void (*TakeHook)() = nullptr;

uint64_t Now() { return ReadProcessorCounts().tstates; }

bool AnyNaturalDown() {
    for (const Held& h : Natural)
        if (h.down) return true;
    return false;
}

void LetGo(Held& held) {
    ReleaseKeyStroke(held.key, held.caps_toggled);
    held = {};
}

// A stroke goes down; a counted key then waits to be taken, any other just for the hold time.
void PressHeld(Held& held, const KeyStroke& key) {
    held.down = true;
    held.key = key;
    if (IsCountedKey(key.scan_code)) {
        Watch = WatchKey();
        WaitingTake = true;
    } else {
        ReadyAt = Now() + KeyPace.hold_tstates;
    }
    held.caps_toggled = PressKeyStroke(key);
}

void PushKey(const Item& item) {
    if (Replaying) return;
    size_t keys = Queue.size();
    if (!Texts.empty()) keys -= Texts.size();
    if (keys >= PacerQueueLimit) {
        ++Counts.dropped;
        return;
    }
    Queue.push_back(item);
    Armed.store(true, std::memory_order_relaxed);
    if (CameHook) CameHook();
}

void DropText() {
    if (!Texts.empty())
        Ended = Labels.front().label + ": cancelled after " + std::to_string(TextNext) + " of " +
                std::to_string(Texts.front().size()) + " characters";
    Labels.clear();
    if (Typed.down && TypedIsText && ProcessorOnly) {
        LetGoTypedPending = true;
    } else if (Typed.down && TypedIsText) {
        LetGo(Typed);
        WaitingTake = false;
        ReadyAt = Now() + KeyPace.gap_tstates;
    }
    std::erase_if(Queue, [](const Item& i) { return i.kind == Kind::Text; });
    Texts.clear();
    TextNext = 0;
}

bool Busy() {
    bool busy = !Queue.empty() || WaitingTake || Typed.down || LetGoTypedPending;
    for (const Held& h : Natural)
        busy = busy || (h.down && h.host_up);
    Armed.store(busy, std::memory_order_relaxed);
    return busy;
}

// Takes the next item off the queue; false when it has to wait.
bool Advance(uint64_t now) {
    Item& item = Queue.front();
    switch (item.kind) {
    case Kind::Positional: {
        const uint8_t s = item.scan_code;
        if (!IsCountedKey(s)) {
            KeyEvent(s, item.pressed); // shift, control, Caps Lock and keys without a code
        } else if (item.pressed) {
            Watch = WatchKey();
            WaitingTake = true;
            PositionalDown[s] = true;
            KeyEvent(s, true);
        } else if (PositionalDown[s]) {
            PositionalDown[s] = false;
            KeyEvent(s, false);
            ReadyAt = now + KeyPace.gap_tstates;
        }
        Queue.pop_front();
        return !WaitingTake && now >= ReadyAt;
    }
    case Kind::Natural: {
        if (AnyNaturalDown()) return false; // the next key goes down once the last is up
        Held& held = Natural[item.host];
        PressHeld(held, item.key);
        held.host_up = item.released;
        Queue.pop_front();
        return false;
    }
    case Kind::Stroke:
        if (AnyNaturalDown()) return false;
        TypedCode = 0;
        TypedIsText = false;
        PressHeld(Typed, item.key);
        Queue.pop_front();
        return false;
    case Kind::Text: {
        if (AnyNaturalDown()) return false;
        const std::string& codes = Texts.front();
        while (TextNext < codes.size()) {
            const uint8_t code = uint8_t(codes[TextNext++]);
            KeyStroke key;
            if (!KeyStrokeForCode(code, key)) continue;
            TypedCode = code;
            TypedIsText = true;
            PressHeld(Typed, key);
            return false;
        }
        Ended = Labels.front().label + ": typed " + std::to_string(codes.size()) + " characters";
        if (Labels.front().skipped)
            Ended +=
                ", skipped " + std::to_string(Labels.front().skipped) + " with no ABC80 character";
        Texts.pop_front();
        Labels.pop_front();
        TextNext = 0;
        Queue.pop_front();
        ++Counts.texts_finished;
        return true;
    }
    case Kind::ReleaseKeyboard:
        ReleaseKeyboard();
        for (int s = 0; s < 256; ++s)
            if (IsCountedKey(uint8_t(s))) PositionalDown[s] = false;
        Queue.pop_front();
        return true;
    }
    return false;
}

// period_over: the processor has spent its tick period's time at real speed and waits for the
// next tick; it gets no more time before then, so holds and gaps (but not the pause after Enter)
// count as done, and a key released now and the next pressed go in the same pause.
bool Step(bool period_over) {
    if (Replaying) return false;
    const uint64_t now = Now();
    if (LetGoTypedPending) {
        LetGoTypedPending = false;
        if (Typed.down) {
            LetGo(Typed);
            WaitingTake = false;
            ReadyAt = now + KeyPace.gap_tstates;
        }
    }
    if (WaitingTake) {
        switch (CheckKeyTaken(Watch)) {
        case KeyTake::Waiting: return true;
        case KeyTake::NotTaken: ++Counts.not_taken; break; // interrupts off: go on, never hang
        case KeyTake::Taken:
            if (TakeHook) TakeHook();
            break;
        }
        WaitingTake = false;
        ReadyAt = now + KeyPace.hold_tstates;
        AfterEnter = false;
    }
    if (period_over && !AfterEnter) ReadyAt = 0;
    if (now < ReadyAt) return Busy();
    // Let go of what has been held long enough, then a gap.
    if (Typed.down) {
        AfterEnter = TypedCode == CodeEnter;
        LetGo(Typed);
        ReadyAt = now + (AfterEnter ? KeyPace.enter_gap_tstates : KeyPace.gap_tstates);
        if (!period_over || AfterEnter) return true;
        ReadyAt = 0;
    }
    bool released = false;
    for (Held& h : Natural)
        if (h.down && h.host_up) {
            LetGo(h);
            released = true;
        }
    if (released) {
        ReadyAt = now + KeyPace.gap_tstates;
        if (!period_over) return true;
        ReadyAt = 0;
    }
    while (!Queue.empty() && Advance(now)) {
    }
    return Busy();
}

} // namespace

void PacerReset() {
    std::lock_guard lock(Mutex);
    Queue.clear();
    Texts.clear();
    Labels.clear();
    Ended.clear();
    NotTakenSaid = 0;
    TextNext = 0;
    for (Held& h : Natural)
        if (h.down) LetGo(h);
    if (Typed.down) LetGo(Typed);
    for (int s = 0; s < 256; ++s)
        if (PositionalDown[s]) KeyEvent(unsigned(s), false);
    std::fill(std::begin(PositionalDown), std::end(PositionalDown), false);
    WaitingTake = false;
    LetGoTypedPending = false;
    ReadyAt = 0;
    AfterEnter = false;
    KeyPace = {};
    Counts = {};
    Armed.store(false, std::memory_order_relaxed);
}

void PacerSetPace(const PacerPace& pace) {
    std::lock_guard lock(Mutex);
    KeyPace = pace;
}

void PacerPositional(uint8_t scan_code, bool pressed) {
    std::lock_guard lock(Mutex);
    Item item{Kind::Positional};
    item.scan_code = scan_code;
    item.pressed = pressed;
    PushKey(item);
}

void PacerNaturalPress(uint32_t host, const KeyStroke& key) {
    if (host >= PacerHostKeys) return;
    std::lock_guard lock(Mutex);
    Item item{Kind::Natural};
    item.host = host;
    item.key = key;
    PushKey(item);
}

// The release of a host key whose press never reached the pacer lets go of nothing.
void PacerNaturalRelease(uint32_t host) {
    if (host >= PacerHostKeys) return;
    std::lock_guard lock(Mutex);
    for (auto it = Queue.rbegin(); it != Queue.rend(); ++it)
        if (it->kind == Kind::Natural && it->host == host && !it->released) {
            it->released = true;
            return;
        }
    if (Natural[host].down) Natural[host].host_up = true;
    Busy();
}

bool PacerNaturalKey(uint32_t host, uint32_t character, unsigned scan_code, bool shift,
                     bool control) {
    if (host >= PacerHostKeys) return false;
    KeyStroke key;
    if (!control && character >= 0x20 && character != 0x7F) {
        const int code = Abc80CodeForCharacter(character);
        if (code < 0x20 || code > 0x7E || !KeyStrokeForCode(uint8_t(code), key)) return false;
    } else {
        if (!IsCountedKey(scan_code)) return false;
        key = {uint8_t(scan_code), shift, control};
    }
    PacerNaturalPress(host, key);
    return true;
}

void PacerType(const std::string& codes, const std::string& label, size_t skipped) {
    if (codes.empty()) return;
    std::lock_guard lock(Mutex);
    if (Replaying) return;
    if (Texts.empty()) NotTakenSaid = Counts.not_taken; // keys lost before it are not its own
    Texts.push_back(codes);
    Labels.push_back({label, skipped});
    Queue.push_back(Item{Kind::Text});
    Armed.store(true, std::memory_order_relaxed);
    if (CameHook) CameHook();
}

void PacerStroke(const KeyStroke& key) {
    std::lock_guard lock(Mutex);
    Item item{Kind::Stroke};
    item.key = key;
    PushKey(item);
}

size_t PacerCancelText() {
    std::lock_guard lock(Mutex);
    if (Texts.empty()) return 0;
    size_t left = Texts.front().size() - TextNext;
    for (size_t i = 1; i < Texts.size(); ++i)
        left += Texts[i].size();
    if (Typed.down && TypedIsText && WaitingTake) ++left;
    DropText();
    ++Counts.texts_cancelled;
    return left;
}

void PacerMachineReset() {
    std::lock_guard lock(Mutex);
    if (!Texts.empty()) {
        DropText();
        ++Counts.texts_cancelled;
    }
    if (WaitingTake) {
        WaitingTake = false;
        ++Counts.not_taken;
        ReadyAt = Now() + KeyPace.hold_tstates;
        AfterEnter = false;
    }
    Busy();
}

void PacerReleaseHeld() {
    std::lock_guard lock(Mutex);
    for (Held& h : Natural)
        if (h.down) h.host_up = true;
    for (Item& i : Queue)
        if (i.kind == Kind::Natural) i.released = true;
    bool positional = false;
    for (bool down : PositionalDown)
        positional = positional || down;
    for (const Item& i : Queue)
        positional = positional || (i.kind == Kind::Positional && i.pressed);
    if (positional && !Replaying) Queue.push_back(Item{Kind::ReleaseKeyboard});
    Busy();
}

bool PacerStep() {
    std::lock_guard lock(Mutex);
    return ProcessorOnly ? Busy() : Step(false);
}

void PacerReplay(bool on) {
    std::lock_guard lock(Mutex);
    if (on) {
        Queue.clear();
        Texts.clear();
        TextNext = 0;
        for (Held& h : Natural)
            h = {};
        Typed = {};
        std::fill(std::begin(PositionalDown), std::end(PositionalDown), false);
        WaitingTake = false;
        LetGoTypedPending = false;
        ReadyAt = 0;
        AfterEnter = false;
    } else if (Replaying) {
        ReleaseKeyboard(); // what the session held down is let go of
    }
    Replaying = on;
    Busy();
}

void PacerReplayKey(unsigned scan_code, bool pressed) {
    std::lock_guard lock(Mutex);
    if (scan_code == ReleaseAllKeys)
        ReleaseKeyboard();
    else
        KeyEvent(scan_code, pressed);
}

void PacerRecordKeys(void (*observer)(unsigned scan_code, bool pressed), bool from_processor) {
    std::lock_guard lock(Mutex);
    KeyboardObserver = observer;
    ProcessorOnly = observer && from_processor;
}

void PacerProcessorLook() {
    if (!Armed.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(Mutex);
    Step(false);
}

bool PacerArmed() { return Armed.load(std::memory_order_relaxed); }

void PacerPeriodEnd() {
    std::lock_guard lock(Mutex);
    Step(true);
}

bool PacerBusy() {
    std::lock_guard lock(Mutex);
    return Busy();
}

PacerStatus PacerReadStatus() {
    std::lock_guard lock(Mutex);
    PacerStatus s = Counts;
    for (const Item& i : Queue)
        if (i.kind != Kind::Text) ++s.keys_waiting;
    if (!Texts.empty()) {
        s.typing = true;
        s.text_total = Texts.front().size();
        s.text_done = TextNext;
        for (size_t i = 1; i < Texts.size(); ++i)
            s.text_queued += Texts[i].size();
    }
    return s;
}

PacerTypingReport PacerTypingStatus(const std::string& cancel_hint) {
    std::lock_guard lock(Mutex);
    PacerTypingReport r;
    if (!Ended.empty()) {
        r.text = std::move(Ended);
        Ended.clear();
        if (Counts.not_taken > NotTakenSaid)
            r.text += ", " + std::to_string(Counts.not_taken - NotTakenSaid) +
                      " not taken by the machine";
        NotTakenSaid = Counts.not_taken;
    }
    r.typing = !Texts.empty();
    if (!r.typing) return r;
    r.text = Labels.front().label + ": " + std::to_string(TextNext) + " of " +
             std::to_string(Texts.front().size()) + " characters";
    if (!cancel_hint.empty()) r.text += " (" + cancel_hint + ")";
    size_t keys = 0;
    for (const Item& i : Queue)
        keys += i.kind != Kind::Text;
    if (keys) r.text += ", " + std::to_string(keys) + " typed keys waiting";
    return r;
}

KeyboardRecord PacerKeyboard() {
    std::lock_guard lock(Mutex);
    return KeyboardState;
}

PacerSnapshot PacerSave() {
    std::lock_guard lock(Mutex);
    PacerSnapshot s;
    for (const Item& i : Queue)
        s.queue.push_back({uint8_t(i.kind), i.scan_code, i.pressed, i.host, i.key, i.released});
    s.texts.assign(Texts.begin(), Texts.end());
    s.text_next = TextNext;
    for (uint32_t h = 0; h < PacerHostKeys; ++h)
        if (Natural[h].down)
            s.held.push_back({h, Natural[h].host_up, Natural[h].caps_toggled, Natural[h].key});
    if (Typed.down) s.held.push_back({PacerHostKeys, Typed.host_up, Typed.caps_toggled, Typed.key});
    s.typed_code = TypedCode;
    s.typed_is_text = TypedIsText;
    for (int c = 0; c < 256; ++c)
        if (PositionalDown[c]) s.positional_down.push_back(uint8_t(c));
    s.waiting_take = WaitingTake;
    s.watch = Watch;
    s.ready_at = ReadyAt;
    s.after_enter = AfterEnter;
    s.pace = KeyPace;
    s.keyboard = KeyboardState;
    s.key_port = ReadInPort(KeyboardPort);
    s.bus_byte = ReadInterruptBusByte();
    s.key_flag = (ReadControlFlags() & KEY) != 0;
    s.port_reads = KeyboardPortReads.load(std::memory_order_relaxed);
    return s;
}

bool PacerSnapshotValid(const PacerSnapshot& s) {
    size_t texts = 0;
    for (const PacerSnapshot::QueuedKey& q : s.queue) {
        if (q.kind > uint8_t(Kind::ReleaseKeyboard) || q.host >= PacerHostKeys) return false;
        texts += q.kind == uint8_t(Kind::Text);
    }
    if (texts != s.texts.size() || s.text_next > (texts ? s.texts.front().size() : 0)) return false;
    for (const PacerSnapshot::HeldKey& h : s.held)
        if (h.host > PacerHostKeys) return false;
    return true;
}

void PacerRestore(const PacerSnapshot& s) {
    std::lock_guard lock(Mutex);
    Queue.clear();
    for (const PacerSnapshot::QueuedKey& q : s.queue) {
        Item i{Kind(q.kind)};
        i.scan_code = q.scan_code;
        i.pressed = q.pressed;
        i.host = q.host;
        i.key = q.key;
        i.released = q.released;
        Queue.push_back(i);
    }
    Texts.assign(s.texts.begin(), s.texts.end());
    Labels.assign(Texts.size(), TextLabel{RestoredLabel});
    Ended.clear();
    NotTakenSaid = Counts.not_taken;
    TextNext = size_t(s.text_next);
    for (Held& h : Natural)
        h = {};
    Typed = {};
    for (const PacerSnapshot::HeldKey& k : s.held) {
        Held& h = k.host == PacerHostKeys ? Typed : Natural[k.host];
        h = {true, k.host_up, k.caps_toggled, k.key};
    }
    TypedCode = s.typed_code;
    TypedIsText = s.typed_is_text;
    std::fill(std::begin(PositionalDown), std::end(PositionalDown), false);
    for (uint8_t c : s.positional_down)
        PositionalDown[c] = true;
    WaitingTake = s.waiting_take;
    LetGoTypedPending = false;
    Watch = s.watch;
    ReadyAt = s.ready_at;
    AfterEnter = s.after_enter;
    KeyPace = s.pace;
    KeyboardState = s.keyboard;
    WriteInPort(KeyboardPort, s.key_port);
    WriteInterruptBusByte(s.bus_byte);
    KeyboardPortReads.store(s.port_reads, std::memory_order_relaxed);
    if (s.key_flag)
        ControlFlags.fetch_or(KEY, std::memory_order_release);
    else
        ControlFlags.fetch_and(~KEY, std::memory_order_acq_rel);
    Busy();
}

void SetPacerHooks(void (*came)(), void (*taken)()) {
    std::lock_guard lock(Mutex);
    CameHook = came;
    TakeHook = taken;
}
