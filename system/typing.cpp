#include "system/typing.h"

#include "cpu/processor.h"
#include "machine/charmap.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/ports.h"

namespace {

constexpr uint8_t ScanLeftShift = 42;
constexpr uint8_t ScanControl = 29;
constexpr uint8_t ScanCapsLock = 58;

void ToggleCaps() {
    KeyEvent(ScanCapsLock, true);
    KeyEvent(ScanCapsLock, false);
}

bool IsLetterKey(uint8_t scan_code) {
    return scan_code < KeyScanCodes && LetterKeyTable[KeyIndexTable[scan_code]];
}

} // namespace

bool KeyStrokeForCode(uint8_t code, KeyStroke& key) {
    return FindKeyForCode(code, key.scan_code, key.shift, key.control);
}

size_t TextToCodes(const char* text, size_t size, std::string& codes) {
    size_t skipped = 0;
    for (size_t i = 0; i < size;) {
        uint32_t cp = 0;
        if (!DecodeUtf8(text, size, i, cp)) {
            ++i;
            ++skipped;
            continue;
        }
        if (cp == '\r' || cp == '\n') {
            if (cp == '\r' && i < size && text[i] == '\n') ++i; // CRLF is one line end
            codes.push_back(char(CodeEnter));
            continue;
        }
        int code = Abc80CodeForCharacter(cp);
        KeyStroke key;
        // Control characters would act as keys (Ctrl-C stops a program): never typed from text.
        if (code < 0x20 || code > 0x7E || !KeyStrokeForCode(uint8_t(code), key)) {
            ++skipped;
            continue;
        }
        codes.push_back(char(code));
    }
    return skipped;
}

bool PressKeyStroke(const KeyStroke& key) {
    const uint8_t before = KeyboardState.modifiers;
    const bool caps_toggled = (before & CAPS) && IsLetterKey(key.scan_code) && !key.shift;
    if (caps_toggled) ToggleCaps();
    const bool had_shift = before & SHIFT, had_control = before & CONTROL;
    if (had_shift != key.shift) KeyEvent(ScanLeftShift, key.shift);
    if (had_control != key.control) KeyEvent(ScanControl, key.control);
    KeyEvent(key.scan_code, true);
    if (had_control != key.control) KeyEvent(ScanControl, had_control);
    if (had_shift != key.shift) KeyEvent(ScanLeftShift, had_shift);
    return caps_toggled;
}

void ReleaseKeyStroke(const KeyStroke& key, bool caps_toggled) {
    KeyEvent(key.scan_code, false);
    if (caps_toggled) ToggleCaps();
}

KeyWatch WatchKey() {
    return {KeyboardPortReads.load(std::memory_order_relaxed), ReadProcessorCounts().ticks};
}

KeyTake CheckKeyTaken(const KeyWatch& watch) {
    // The ticks are read before the port count: a key read just before its limit is taken.
    const uint64_t ticks = ReadProcessorCounts().ticks;
    if (!(ReadControlFlags() & KEY) &&
        KeyboardPortReads.load(std::memory_order_relaxed) != watch.port_reads)
        return KeyTake::Taken;
    return ticks - watch.ticks >= KeyTakeTicks ? KeyTake::NotTaken : KeyTake::Waiting;
}

void TypistStart(Typist& typist, const std::string& codes) {
    TypistCancel(typist);
    typist.codes = codes;
    typist.next = 0;
    typist.not_taken = 0;
    typist.phase = codes.empty() ? Typist::Idle : Typist::Gap;
    typist.steps = typist.pace.gap_steps; // the first key goes down at the first step
}

bool TypistStep(Typist& t) {
    ++t.steps;
    switch (t.phase) {
    case Typist::Idle: return false;
    case Typist::WaitAccept:
        switch (CheckKeyTaken(t.watch)) {
        case KeyTake::Waiting: return true;
        case KeyTake::NotTaken: ++t.not_taken; break; // interrupts off: go on rather than hang
        case KeyTake::Taken: break;
        }
        t.phase = Typist::Hold;
        t.steps = 0;
        return true;
    case Typist::Hold:
        if (t.steps < t.pace.hold_steps) return true;
        ReleaseKeyStroke(t.key, t.caps_toggled);
        t.phase = Typist::Gap;
        t.steps = 0;
        return true;
    case Typist::Gap: {
        const int gap = t.code == CodeEnter ? t.pace.enter_gap_steps : t.pace.gap_steps;
        if (t.steps < gap) return true;
        if (t.next >= t.codes.size()) {
            t.phase = Typist::Idle;
            return false;
        }
        t.code = uint8_t(t.codes[t.next++]);
        if (!KeyStrokeForCode(t.code, t.key)) return true; // TextToCodes gives only typable codes
        t.watch = WatchKey();
        t.caps_toggled = PressKeyStroke(t.key);
        t.phase = Typist::WaitAccept;
        t.steps = 0;
        return true;
    }
    }
    return false;
}

void TypistCancel(Typist& t) {
    if (t.phase == Typist::WaitAccept || t.phase == Typist::Hold)
        ReleaseKeyStroke(t.key, t.caps_toggled);
    t.phase = Typist::Idle;
    t.code = 0;
}
