#include "tools/control.h"

#include "system/debugger.h"
#include "system/pacer.h"
#include "system/startup.h"
#include "system/state.h"
#include "common/utf8.h"
#include "system/system.h"
#include "tools/headless_options.h"
#include "tools/json.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

// Bounds of what a request may ask for.
constexpr int64_t MaxRequestTicks = MaxTicks;
constexpr int64_t MaxPeekLength = 0x10000;
constexpr int64_t MaxSteps = 10000000;
constexpr int64_t MaxDisasmCount = 4096;
constexpr long DefaultStepTicks = 5000; // step_over, step_out and type without max_ticks
constexpr size_t MaxLineLength = 1 << 20;
constexpr int64_t MaxTraceBytes = int64_t(1) << 50;

constexpr int FailedWait = 1;  // a wait that did not see what it waited for
constexpr int FailedInput = 2; // an error answer

struct Reply {
    bool ok = true;
    std::string error;
    Json fields = Json::object(); // after "ok" and "error", in this order
    int failure = 0;              // the exit code this command counts as, 0 for success
};

Reply Error(const std::string& why) {
    Reply r;
    r.ok = false;
    r.error = why;
    r.failure = FailedInput;
    return r;
}

struct Session {
    const ControlRunner& runner;
    int stop_code = -1; // the runner's exit code once it must end
    bool quit = false;

    // Runs up to n ticks until done; false when the runner must end.
    bool Run(long n, const std::function<bool()>& done) {
        const int rc = runner.run_ticks(n, done);
        if (rc >= 0) stop_code = rc;
        return rc < 0;
    }
};

// ---- Request fields
// ------------------------------------------------------------------------------

bool Int(const JsonValue& req, const char* name, int64_t min, int64_t max, int64_t& out,
         std::string& error, bool required = true, int64_t fallback = 0) {
    const JsonValue* v = req.Find(name);
    if (!v) {
        if (!required) {
            out = fallback;
            return true;
        }
        error = std::string("\"") + name + "\" is missing";
        return false;
    }
    if (!v->Integer(min, max, out)) {
        error = std::string("\"") + name + "\" must be a whole number from " + std::to_string(min) +
                " to " + std::to_string(max);
        return false;
    }
    return true;
}

bool Str(const JsonValue& req, const char* name, std::string& out, std::string& error) {
    const JsonValue* v = req.Find(name);
    if (!v || v->type != JsonValue::Type::String) {
        error = std::string("\"") + name + "\" must be a string";
        return false;
    }
    out = v->string;
    return true;
}

// A "file" field, named from where the user started the runner, whichever folder it works in.
bool FileField(const JsonValue& req, std::string& file, std::string& error) {
    if (!Str(req, "file", file, error)) return false;
    file = SystemPathFromStart(file);
    return true;
}

std::string HexBytes(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

// ---- Commands
// ------------------------------------------------------------------------------------

// The stop that ended a run, as a continue answers it.
void StopFields(Reply& r, bool stopped) {
    StopInfo info;
    const bool standing = DebugStanding(&info);
    if (!stopped) {
        r.fields["stopped"] = "ticks";
    } else {
        r.fields["stopped"] = StopReasonName(info.reason);
        if (info.id) r.fields["id"] = info.id;
        if (info.reason == StopReason::Watch || info.reason == StopReason::Io) {
            r.fields["addr"] = info.address;
            r.fields["value"] = info.value;
        }
    }
    if (standing) r.fields["pc"] = info.pc; // a machine running in real time has no pc to tell
}

// Keys go in until the pacer has let the last one go, for at most `ticks`; a breakpoint that
// stops the machine on the way ends the command there (answered as continue answers it; the rest
// of the keys follow once the machine runs again). Text the machine did not take in time is
// dropped and counted, so the next command starts clean.
Reply Keys(Session& s, int64_t ticks) {
    const uint64_t serial = DebugStopSerial();
    if (!s.Run(long(ticks), [serial] { return !PacerBusy() || DebugStopSerial() != serial; }))
        return Error("the run ended");
    Reply r;
    if (DebugStopSerial() != serial) {
        StopFields(r, true);
        return r;
    }
    if (!PacerBusy()) return r;
    const size_t left = PacerCancelText();
    if (!left) return Error("the machine did not take the keys");
    r = Error("the machine did not take the keys: " + std::to_string(left) +
              " characters not typed");
    r.fields["not_typed"] = int64_t(left);
    return r;
}

Reply Type(const JsonValue& req, Session& s) {
    std::string text, codes, error;
    int64_t ticks;
    if (!Str(req, "text", text, error)) return Error(error);
    if (!Int(req, "timeout_ticks", 1, MaxRequestTicks, ticks, error, false, DefaultStepTicks * 20))
        return Error(error);
    if (TextToCodes(text.data(), text.size(), codes, TextSource::Script, &error))
        return Error("the text cannot be typed: " + error);
    PacerType(codes);
    return Keys(s, ticks);
}

// With "hold_ticks" the key stays down that many ticks, as a held host key would (host key 0,
// which no host key is), then goes up.
Reply Key(const JsonValue& req, Session& s) {
    std::string name, error;
    int64_t hold, ticks;
    if (!Str(req, "key", name, error) ||
        !Int(req, "hold_ticks", 1, MaxRequestTicks, hold, error, false, 0) ||
        !Int(req, "timeout_ticks", 1, MaxRequestTicks, ticks, error, false, DefaultStepTicks * 20))
        return Error(error);
    KeyStroke key;
    if (!ParseKey(name, key)) return Error("unknown key: " + name);
    if (!hold) {
        PacerStroke(key);
        return Keys(s, ticks);
    }
    PacerNaturalPress(0, key);
    if (!s.Run(long(hold), [] { return false; })) return Error("the run ended");
    PacerNaturalRelease(0);
    return Keys(s, ticks);
}

Reply RunTicks(const JsonValue& req, Session& s) {
    int64_t ticks;
    std::string error;
    if (!Int(req, "ticks", 1, MaxRequestTicks, ticks, error)) return Error(error);
    if (!s.Run(long(ticks), [] { return false; })) return Error("the run ended");
    return {};
}

Reply WaitFor(const JsonValue& req, Session& s) {
    std::string text, error;
    int64_t ticks;
    if (!Str(req, "text", text, error) || text.empty())
        return Error(error.empty() ? "\"text\" is empty" : error);
    if (!Int(req, "timeout_ticks", 1, MaxRequestTicks, ticks, error)) return Error(error);
    auto seen = [&] { return SystemScreenText().find(text) != std::string::npos; };
    if (!s.Run(long(ticks), seen)) return Error("the run ended");
    Reply r;
    const bool found = seen();
    r.fields["found"] = found;
    if (!found) r.failure = FailedWait;
    return r;
}

Reply Screen(const JsonValue&, Session&) {
    const std::string text = SystemScreenText();
    Json lines = Json::array();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    Reply r;
    r.fields["lines"] = std::move(lines);
    return r;
}

// The protocol's registers: the table's listed ones, named as fields ("pc", "af_"); the flags are
// booleans.
const RegisterEntry* RegisterField(const std::string& field) {
    for (const RegisterEntry& r : RegisterTable())
        if (r.listed && RegisterFieldName(r) == field) return &r;
    return nullptr;
}

Reply Regs(const JsonValue&, Session&) {
    Reply r;
    for (const RegisterEntry& reg : RegisterTable()) {
        if (!reg.listed) continue;
        uint32_t v = 0;
        if (!DebugGetRegister(reg.name, v)) return Error("the machine is running");
        if (reg.width == RegisterWidth::Flag)
            r.fields[RegisterFieldName(reg)] = v != 0;
        else
            r.fields[RegisterFieldName(reg)] = v;
    }
    return r;
}

Reply SetRegs(const JsonValue& req, Session&) {
    // Every field is checked before any is written: a bad request changes nothing.
    std::vector<std::pair<const RegisterEntry*, uint32_t>> writes;
    for (const auto& [name, value] : req.object) {
        if (name == "cmd") continue;
        const RegisterEntry* reg = RegisterField(name);
        if (!reg) return Error("unknown register \"" + name + "\"");
        int64_t v;
        if (reg->width == RegisterWidth::Flag && value.type == JsonValue::Type::Bool) {
            v = value.boolean;
        } else {
            const int64_t max = RegisterMax(reg->width);
            if (!value.Integer(0, max, v))
                return Error("\"" + name + "\" must be from 0 to " + std::to_string(max));
        }
        writes.emplace_back(reg, uint32_t(v));
    }
    if (writes.empty()) return Error("no register given");
    for (const auto& [reg, v] : writes)
        if (!DebugSetRegister(reg->name, v)) return Error("the machine is running");
    return {};
}

Reply Peek(const JsonValue& req, Session&) {
    int64_t addr, len;
    std::string error;
    if (!Int(req, "addr", 0, 0xFFFF, addr, error) ||
        !Int(req, "len", 1, MaxPeekLength, len, error, false, 1))
        return Error(error);
    std::vector<uint8_t> bytes(static_cast<size_t>(len));
    DebugReadMemory(uint16_t(addr), bytes.data(), bytes.size());
    Reply r;
    r.fields["hex"] = HexBytes(bytes.data(), bytes.size());
    return r;
}

Reply Poke(const JsonValue& req, Session&) {
    int64_t addr;
    std::string hex, error;
    if (!Int(req, "addr", 0, 0xFFFF, addr, error) || !Str(req, "hex", hex, error))
        return Error(error);
    if (hex.empty() || hex.size() % 2 || hex.size() > 2 * MaxPeekLength)
        return Error("\"hex\" must be pairs of hex digits, 1 to 65536 bytes");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (*end || !std::isxdigit(uint8_t(pair[0])) || !std::isxdigit(uint8_t(pair[1])))
            return Error("\"hex\" must be pairs of hex digits");
        bytes.push_back(uint8_t(v));
    }
    if (!DebugWriteMemory(uint16_t(addr), bytes.data(), bytes.size()))
        return Error("the machine is running");
    return {};
}

// An optional "if": {"reg": "A"} or {"mem": ADDR}, "op" one of == != < <= > >=, "value".
bool Condition(const JsonValue& req, BreakCondition& c, std::string& error) {
    const JsonValue* cond = req.Find("if");
    if (!cond) return true;
    if (cond->type != JsonValue::Type::Object) {
        error = "\"if\" must be an object";
        return false;
    }
    c.active = true;
    if (cond->Find("mem")) {
        int64_t a;
        if (!Int(*cond, "mem", 0, 0xFFFF, a, error)) return false;
        c.memory = true;
        c.address = uint16_t(a);
    } else if (!Str(*cond, "reg", c.reg, error)) {
        error = "\"if\" needs \"reg\" or \"mem\"";
        return false;
    }
    std::string op = "==";
    if (cond->Find("op") && !Str(*cond, "op", op, error)) return false;
    static const char* const ops[] = {"==", "!=", "<", "<=", ">", ">="};
    bool known = false;
    for (int i = 0; i < 6; ++i)
        if (op == ops[i]) {
            c.op = CompareOp(i);
            known = true;
        }
    if (!known) {
        error = "unknown \"op\": " + op;
        return false;
    }
    int64_t value;
    if (!Int(*cond, "value", 0, 0xFFFF, value, error)) return false;
    c.value = uint16_t(value);
    return true;
}

Reply Add(const Breakpoint& b) {
    std::string error;
    const int id = DebugAddBreakpoint(b, &error);
    if (!id) return Error(error);
    Reply r;
    r.fields["id"] = id;
    return r;
}

// {"pc":A} with an optional "if", or {"text":"w 8000+2 if A == 7"}: any breakpoint as the
// debugger writes it (list_breaks' "text").
Reply Break(const JsonValue& req, Session&) {
    Breakpoint b;
    std::string text, error;
    if (req.Find("text")) {
        if (req.Find("pc") || req.Find("if"))
            return Error("\"text\" comes without \"pc\" or \"if\"");
        if (!Str(req, "text", text, error) || !ParseBreakpoint(text, b, &error))
            return Error(error);
        return Add(b);
    }
    int64_t pc;
    if (!Int(req, "pc", 0, 0xFFFF, pc, error) || !Condition(req, b.condition, error))
        return Error(error);
    b.address = uint16_t(pc);
    return Add(b);
}

Reply Watch(const JsonValue& req, Session&) {
    Breakpoint b;
    int64_t addr, len;
    std::string access = "rw", error;
    if (!Int(req, "addr", 0, 0xFFFF, addr, error) ||
        !Int(req, "len", 1, SystemMemoryBytes, len, error, false, 1) ||
        (req.Find("access") && !Str(req, "access", access, error)) ||
        !Condition(req, b.condition, error))
        return Error(error);
    if (access == "r")
        b.kind = BreakKind::Read;
    else if (access == "w")
        b.kind = BreakKind::Write;
    else if (access == "rw")
        b.kind = BreakKind::Access;
    else
        return Error("\"access\" must be \"r\", \"w\" or \"rw\"");
    b.address = uint16_t(addr);
    b.length = uint32_t(len);
    return Add(b);
}

Reply BreakIo(const JsonValue& req, Session&) {
    Breakpoint b;
    int64_t port;
    std::string dir, error;
    if (!Int(req, "port", 0, 255, port, error) || !Str(req, "dir", dir, error) ||
        !Condition(req, b.condition, error))
        return Error(error);
    if (dir != "in" && dir != "out") return Error("\"dir\" must be \"in\" or \"out\"");
    b.kind = dir == "in" ? BreakKind::PortIn : BreakKind::PortOut;
    b.address = uint16_t(port);
    return Add(b);
}

Reply BreakIrq(const JsonValue& req, Session&) {
    Breakpoint b;
    std::string which, error;
    if (!Str(req, "irq", which, error) || !Condition(req, b.condition, error)) return Error(error);
    if (which != "nmi" && which != "int") return Error("\"irq\" must be \"nmi\" or \"int\"");
    b.kind = which == "nmi" ? BreakKind::Nmi : BreakKind::Interrupt;
    return Add(b);
}

Reply Delete(const JsonValue& req, Session&) {
    int64_t id;
    std::string error;
    if (!Int(req, "id", 1, INT32_MAX, id, error)) return Error(error);
    if (!DebugRemoveBreakpoint(int(id))) return Error("no breakpoint " + std::to_string(id));
    return {};
}

Reply ListBreaks(const JsonValue&, Session&) {
    Json list = Json::array();
    static const char* const kinds[] = {"break", "watch_r", "watch_w", "watch_rw",
                                        "io_in", "io_out",  "int",     "nmi"};
    for (const Breakpoint& b : DebugBreakpoints())
        list.push_back({{"id", b.id},
                        {"kind", kinds[int(b.kind)]},
                        {"addr", b.address},
                        {"len", b.length},
                        {"enabled", b.enabled},
                        {"hits", b.hits},
                        {"text", DescribeBreakpoint(b)}});
    Reply r;
    r.fields["breaks"] = std::move(list);
    return r;
}

// Resumes the machine (resume() says whether it could) and runs up to ticks until the debugger
// stops it; the answer says why it stands. The stop count is taken before the resume: in real time
// a step is over before the call returns.
Reply RunUntilStop(Session& s, long ticks, const std::function<bool()>& resume, uint64_t& serial) {
    serial = DebugStopSerial();
    if (!resume()) return Error("the machine cannot be resumed now");
    const uint64_t before = serial;
    if (!s.Run(ticks, [before] { return DebugStopSerial() != before; }))
        return Error("the run ended");
    Reply r;
    StopFields(r, DebugStopSerial() != serial);
    return r;
}

Reply Continue(const JsonValue& req, Session& s) {
    int64_t ticks;
    std::string error;
    if (!Int(req, "max_ticks", 1, MaxRequestTicks, ticks, error)) return Error(error);
    uint64_t serial;
    return RunUntilStop(s, long(ticks), DebugContinue, serial);
}

// A step command ends at its goal; a goal not reached within the ticks is given up (the machine
// stops where it is) and counts as a failed wait.
Reply Stepping(Session& s, long ticks, const std::function<bool()>& resume) {
    uint64_t serial;
    Reply r = RunUntilStop(s, ticks, resume, serial);
    if (r.ok && DebugStopSerial() == serial) {
        DebugPause();
        r.failure = FailedWait;
    }
    return r;
}

Reply Step(const JsonValue& req, Session& s) {
    int64_t count, ticks;
    std::string error;
    if (!Int(req, "count", 1, MaxSteps, count, error, false, 1) ||
        !Int(req, "max_ticks", 1, MaxRequestTicks, ticks, error, false, DefaultStepTicks))
        return Error(error);
    return Stepping(s, long(ticks), [count] { return DebugStep(uint32_t(count)); });
}

Reply StepOver(const JsonValue& req, Session& s) {
    int64_t ticks;
    std::string error;
    if (!Int(req, "max_ticks", 1, MaxRequestTicks, ticks, error, false, DefaultStepTicks))
        return Error(error);
    return Stepping(s, long(ticks), DebugStepOver);
}

Reply StepOut(const JsonValue& req, Session& s) {
    int64_t ticks;
    std::string error;
    if (!Int(req, "max_ticks", 1, MaxRequestTicks, ticks, error, false, DefaultStepTicks))
        return Error(error);
    return Stepping(s, long(ticks), DebugStepOut);
}

Reply Disasm(const JsonValue& req, Session&) {
    int64_t addr, count;
    std::string error;
    if (!Int(req, "addr", 0, 0xFFFF, addr, error) ||
        !Int(req, "count", 1, MaxDisasmCount, count, error, false, 1))
        return Error(error);
    Json lines = Json::array();
    for (const auto& l : DebugDisassemble(uint16_t(addr), size_t(count))) {
        Json line = {{"addr", l.address}, {"hex", l.hex}, {"text", l.text}};
        if (!l.symbol.empty()) line["symbol"] = l.symbol;
        lines.push_back(std::move(line));
    }
    Reply r;
    r.fields["lines"] = std::move(lines);
    return r;
}

Reply Symbols(const JsonValue& req, Session&) {
    std::string file, error;
    if (!FileField(req, file, error)) return Error(error);
    SymbolLoadReport report;
    if (!DebugLoadSymbols(file, &report)) return Error(report.error);
    Reply r;
    r.fields["loaded"] = report.loaded;
    r.fields["skipped"] = report.skipped;
    return r;
}

Reply BasicBreak(const JsonValue& req, Session&) {
    int64_t line;
    std::string error;
    if (!Int(req, "line", 0, 65535, line, error)) return Error(error);
    const int id = DebugBasicBreak(uint32_t(line), &error);
    if (!id) return Error(error);
    Reply r;
    r.fields["id"] = id;
    return r;
}

Reply BasicVars(const JsonValue&, Session&) {
    std::vector<BasicVariable> vars;
    std::string error;
    if (!DebugBasicVariables(vars, &error)) return Error(error);
    Json list = Json::array();
    for (const auto& v : vars)
        list.push_back({{"name", v.name}, {"value", v.value}});
    Reply r;
    r.fields["vars"] = std::move(list);
    const int32_t line = DebugBasicCurrentLine();
    if (line >= 0) r.fields["line"] = line;
    return r;
}

// A trace to "file" ("" ends it), of at most "max_bytes"; the answer says the limit in use.
Reply Trace(const JsonValue& req, Session&) {
    std::string file, error;
    int64_t max_bytes;
    if (!FileField(req, file, error) || !Int(req, "max_bytes", 1, MaxTraceBytes, max_bytes, error,
                                             false, int64_t(DefaultTraceBytes)))
        return Error(error);
    if (!DebugTraceTo(file, &error, uint64_t(max_bytes))) return Error(error);
    Reply r;
    if (!file.empty()) r.fields["max_bytes"] = max_bytes;
    return r;
}

// A trace that ended by itself during a command is said in that command's answer: reaching its
// limit as "trace_end", a failed write as an error answer.
void NoteTraceEnd(Reply& r) {
    DebugTraceFlush();
    TraceEnd end;
    if (!DebugTraceEnded(end)) return;
    r.fields["trace_end"] = {{"file", end.path},
                             {"bytes", end.bytes},
                             {"reason", end.error ? "write error" : "max_bytes"}};
    if (!end.error) return;
    const std::string why = "the trace to " + end.path + " ended: " + std::strerror(end.error);
    r.error = r.ok ? why : r.error + "; " + why;
    r.ok = false;
    r.failure = FailedInput;
}

// save_state / load_state: the whole machine to a file and back. "force": true loads a state saved
// with other ROM images; host files the state had open and that could not be opened again are
// listed in "closed".
Reply StateCommand(const JsonValue& req, Session&, bool save) {
    std::string file, error;
    if (!FileField(req, file, error)) return Error(error);
    bool force = false;
    if (const JsonValue* v = req.Find("force")) {
        if (save || v->type != JsonValue::Type::Bool)
            return Error("\"force\" must be true or false");
        force = v->boolean;
    }
    const StateResult result = save ? SystemSaveState(file) : SystemLoadState(file, force);
    if (!result.ok) {
        Reply r = Error(result.message);
        if (result.other_roms) r.fields["other_roms"] = true;
        return r;
    }
    Reply r;
    r.fields["message"] = result.message;
    r.fields["closed"] = result.closed_slots;
    return r;
}

Reply SaveState(const JsonValue& req, Session& s) { return StateCommand(req, s, true); }
Reply LoadState(const JsonValue& req, Session& s) { return StateCommand(req, s, false); }

// The Reset button: the processor starts again at 0 with memory as it is (typing under way is
// dropped); it takes effect as the machine runs on.
Reply Reset(const JsonValue&, Session&) {
    SystemReset();
    return {};
}

// Off and on: memory filled afresh, the images loaded again, the processor reset.
Reply PowerCycle(const JsonValue&, Session&) {
    const char* missing = nullptr;
    if (!SystemPowerCycle(&missing))
        return Error(std::string("cannot load ") + (missing ? missing : "the ROM images"));
    return {};
}

Reply Quit(const JsonValue&, Session& s) {
    s.quit = true;
    return {};
}

// The commands: one line each.
struct Command {
    const char* name;
    Reply (*run)(const JsonValue& request, Session& session);
};
const Command Commands[] = {
    {"type", Type},
    {"key", Key},
    {"run", RunTicks},
    {"wait_for", WaitFor},
    {"screen", Screen},
    {"regs", Regs},
    {"set_regs", SetRegs},
    {"peek", Peek},
    {"poke", Poke},
    {"break", Break},
    {"watch", Watch},
    {"break_io", BreakIo},
    {"break_irq", BreakIrq},
    {"delete", Delete},
    {"list_breaks", ListBreaks},
    {"continue", Continue},
    {"step", Step},
    {"step_over", StepOver},
    {"step_out", StepOut},
    {"disasm", Disasm},
    {"symbols", Symbols},
    {"basic_break", BasicBreak},
    {"basic_vars", BasicVars},
    {"trace", Trace},
    {"save_state", SaveState},
    {"load_state", LoadState},
    {"reset", Reset},
    {"power_cycle", PowerCycle},
    {"quit", Quit},
};

Reply Handle(const std::string& line, Session& s) {
    if (line.size() > MaxLineLength) return Error("the line is too long");
    if (!ValidUtf8(line)) return Error("the line is not UTF-8");
    JsonValue req;
    std::string error;
    if (!ParseJson(line, req, error)) return Error("malformed JSON: " + error);
    if (req.type != JsonValue::Type::Object) return Error("a request is a JSON object");
    std::string name;
    if (!Str(req, "cmd", name, error)) return Error(error);
    for (const Command& c : Commands)
        if (name == c.name) return c.run(req, s);
    return Error("unknown command \"" + name + "\"");
}

// One line of input, at most MaxLineLength + 1 characters kept (the rest read and dropped).
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() <= MaxLineLength) line += char(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

} // namespace

int RunControlSession(std::FILE* in, std::FILE* out, const ControlRunner& runner, bool script) {
    DebugAttach();
    DebugLoadRomSymbols("."); // our own ROM's, beside basic.rom in the runner's folder
    Session s{runner};
    int code = 0;
    std::string line;
    bool first_line = true;
    while (!s.quit && s.stop_code < 0 && ReadLine(in, line)) {
        // A byte order mark some editors put at the start of a UTF-8 file is not part of it.
        if (first_line && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        first_line = false;
        if (line.empty()) continue; // an empty line passes
        const size_t first = line.find_first_not_of(" \t");
        if (script && (first == std::string::npos || line[first] == '#'))
            continue; // a blank line or a comment in a script
        Reply r = first == std::string::npos ? Error("an empty request") : Handle(line, s);
        NoteTraceEnd(r);
        Json answer = {{"ok", r.ok}};
        if (!r.ok) answer["error"] = r.error;
        answer.update(r.fields);
        const std::string json = JsonText(answer) + '\n';
        // An answer nobody gets ends the session: the commands after it are not carried out.
        if (std::fwrite(json.data(), 1, json.size(), out) != json.size() || std::fflush(out) != 0) {
            std::fprintf(stderr,
                         "lunabrik-headless: cannot write the answer to standard output: "
                         "%s; the session ends\n",
                         std::strerror(errno));
            s.stop_code = ExitUsage;
            break;
        }
        if (r.failure) code = r.failure;
    }
    std::string error;
    if (!DebugTraceTo("", &error)) { // the trace's last lines did not go out
        std::fprintf(stderr, "lunabrik-headless: %s\n", error.c_str());
        code = FailedInput;
    }
    DebugDetach();
    if (s.stop_code >= 0) return s.stop_code;
    return script ? code : 0;
}
