// The breakpoint as text: one grammar that the window's entry and the control protocol read and
// that DescribeBreakpoint writes (the grammar is in debugger.h).
#include "system/debugger.h"
#include "system/debugger_text.h"

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

std::string HexText(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

bool ParseNumber(std::string_view t, int bare_base, uint32_t max, uint32_t& out) {
    while (!t.empty() && std::isspace(uint8_t(t.front())))
        t.remove_prefix(1);
    while (!t.empty() && std::isspace(uint8_t(t.back())))
        t.remove_suffix(1);
    if (t.empty()) return false;
    int base = bare_base;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t.remove_prefix(2);
        base = 16;
    } else if (t[0] == '$') {
        t.remove_prefix(1);
        base = 16;
    } else if (t.back() == 'H' || t.back() == 'h') {
        t.remove_suffix(1);
        base = 16;
    }
    if (t.empty()) return false;
    uint64_t v = 0;
    for (char c : t) {
        int digit;
        if (std::isdigit(uint8_t(c)))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(uint8_t(c)))
            digit = std::toupper(uint8_t(c)) - 'A' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > max) return false;
    }
    out = uint32_t(v);
    return true;
}

namespace {

const char* const Ops[] = {"==", "!=", "<", "<=", ">", ">="};

bool Is(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::tolower(uint8_t(word[i])) != keyword[i]) return false;
    return true;
}

// "A==7", "(8000)>=4", "HL!=0x1234": the words after "if", spaces taken out.
bool ParseCondition(const std::string& text, BreakCondition& c, std::string& error) {
    error = "a condition is if REG OP VALUE or if (ADDR) OP VALUE, OP one of == != < <= > >=";
    const size_t at = text.find_first_of("=!<>");
    if (at == std::string::npos || at == 0) return false;
    const std::string operand = text.substr(0, at);
    size_t length = 0;
    for (int i = 0; i < 6; ++i) {
        const std::string_view op = Ops[i];
        if (op.size() > length && text.compare(at, op.size(), op) == 0) {
            c.op = CompareOp(i);
            length = op.size();
        }
    }
    if (length == 0) return false;
    uint32_t value;
    if (!ParseNumber(std::string_view(text).substr(at + length), 16, 0xFFFF, value)) return false;
    c.value = uint16_t(value);
    if (operand.size() > 2 && operand.front() == '(' && operand.back() == ')') {
        c.memory = true;
        if (!DebugParseAddress(operand.substr(1, operand.size() - 2), c.address)) return false;
    } else {
        const RegisterEntry* r = FindRegister(operand);
        if (!r) {
            error = "unknown register in the condition: " + operand;
            return false;
        }
        c.reg = r->name;
    }
    c.active = true;
    return true;
}

} // namespace

bool DebugParseAddress(const std::string& text, uint16_t& address) {
    size_t start = 0, end = text.size();
    while (start < end && std::isspace(uint8_t(text[start])))
        ++start;
    while (end > start && std::isspace(uint8_t(text[end - 1])))
        --end;
    if (DebugSymbolAddress(text.substr(start, end - start), address)) return true;
    uint32_t value;
    if (!ParseNumber(text, 16, 0xFFFF, value)) return false;
    address = uint16_t(value);
    return true;
}

std::string DescribeBreakpoint(const Breakpoint& b) {
    std::string text;
    switch (b.kind) {
    case BreakKind::Execute: text = "exec " + HexText(b.address, 4); break;
    case BreakKind::Read: text = "watch r " + HexText(b.address, 4); break;
    case BreakKind::Write: text = "watch w " + HexText(b.address, 4); break;
    case BreakKind::Access: text = "watch rw " + HexText(b.address, 4); break;
    case BreakKind::PortIn: text = "in " + HexText(b.address, 2); break;
    case BreakKind::PortOut: text = "out " + HexText(b.address, 2); break;
    case BreakKind::Interrupt: text = "interrupt"; break;
    case BreakKind::Nmi: text = "nmi"; break;
    }
    if (b.basic_line > 0) text = "line " + std::to_string(b.basic_line);
    const bool ranged =
        b.kind == BreakKind::Read || b.kind == BreakKind::Write || b.kind == BreakKind::Access;
    // A length below 10 reads the same in hexadecimal and decimal.
    if (ranged && b.length > 1)
        text += "+" + (b.length < 10 ? std::to_string(b.length) : HexText(b.length, 1));
    if (b.condition.active)
        text +=
            " if " +
            (b.condition.memory ? "(" + HexText(b.condition.address, 4) + ")" : b.condition.reg) +
            " " + Ops[int(b.condition.op)] + " " + HexText(b.condition.value, 2);
    if (b.temporary) text += " once";
    if (!b.enabled) text += " (off)";
    if (!b.label.empty()) text += " [" + b.label + "]";
    return text;
}

bool ParseBreakpoint(const std::string& text, Breakpoint& out, std::string* error) {
    std::string why = "not a breakpoint: try 1A2B, a symbol, line 20, w 8000+2, in 38, int or nmi";
    auto fail = [&] {
        if (error) *error = why;
        return false;
    };
    Breakpoint b;
    std::string rest = text;
    // The label: everything from the first '[' to the ']' that ends the text.
    if (const size_t open = rest.find('['); open != std::string::npos) {
        size_t close = rest.size();
        while (close > open && std::isspace(uint8_t(rest[close - 1])))
            --close;
        if (close < open + 3 || rest[close - 1] != ']') {
            why = "a label is [TEXT] at the end, TEXT not empty";
            return fail();
        }
        b.label = rest.substr(open + 1, close - open - 2);
        rest.resize(open);
    }
    std::vector<std::string> words;
    for (size_t i = 0; i < rest.size();) {
        if (std::isspace(uint8_t(rest[i]))) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < rest.size() && !std::isspace(uint8_t(rest[i])))
            ++i;
        words.push_back(rest.substr(start, i - start));
    }
    for (; !words.empty(); words.pop_back()) {
        if (Is(words.back(), "(off)"))
            b.enabled = false;
        else if (Is(words.back(), "once"))
            b.temporary = true;
        else
            break;
    }
    for (size_t k = 1; k < words.size(); ++k) {
        if (!Is(words[k], "if")) continue;
        std::string condition;
        for (size_t i = k + 1; i < words.size(); ++i)
            condition += words[i];
        if (!ParseCondition(condition, b.condition, why)) return fail();
        words.resize(k);
        break;
    }
    if (words.empty()) return fail();
    if (Is(words[0], "watch") && words.size() > 1) words.erase(words.begin());
    const std::string& head = words[0];
    const size_t n = words.size();
    uint16_t address = 0;
    if ((Is(head, "exec") || Is(head, "break")) && n == 2) {
        if (!DebugParseAddress(words[1], address)) return fail();
        b.address = address;
    } else if (Is(head, "line") && n == 2) {
        uint32_t line;
        if (!ParseNumber(words[1], 10, 65535, line) || line == 0) {
            why = "a BASIC line is a number, 1-65535";
            return fail();
        }
        b.basic_line = int32_t(line);
    } else if (Is(head, "r") || Is(head, "w") || Is(head, "rw")) {
        std::string range;
        for (size_t i = 1; i < n; ++i)
            range += words[i];
        const size_t plus = range.find('+');
        uint32_t length = 1;
        why = "a watch is r, w or rw, an address and +length (1-10000)";
        if (range.empty() || !DebugParseAddress(range.substr(0, plus), address) ||
            (plus != std::string::npos &&
             (!ParseNumber(std::string_view(range).substr(plus + 1), 16, 0x10000, length) ||
              length == 0)))
            return fail();
        b.kind = Is(head, "r")   ? BreakKind::Read
                 : Is(head, "w") ? BreakKind::Write
                                 : BreakKind::Access;
        b.address = address;
        b.length = length;
    } else if ((Is(head, "in") || Is(head, "out")) && n == 2) {
        if (!DebugParseAddress(words[1], address) || address > 0xFF) {
            why = "a port is 0-FF";
            return fail();
        }
        b.kind = Is(head, "in") ? BreakKind::PortIn : BreakKind::PortOut;
        b.address = address;
    } else if ((Is(head, "int") || Is(head, "interrupt") || Is(head, "nmi")) && n == 1) {
        b.kind = Is(head, "nmi") ? BreakKind::Nmi : BreakKind::Interrupt;
    } else if (n == 1 && DebugParseAddress(head, address)) {
        b.address = address;
    } else {
        return fail();
    }
    out = b;
    return true;
}
