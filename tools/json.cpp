#include "tools/json.h"

#include "machine/charmap.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

class Parser {
  public:
    explicit Parser(const std::string& t) : text_(t) {}

    bool Parse(JsonValue& out, std::string& error) {
        Space();
        if (!Value(out, 0)) {
            error = error_ + " at column " + std::to_string(pos_ + 1);
            return false;
        }
        Space();
        if (pos_ != text_.size()) {
            error = "unexpected text after the value at column " + std::to_string(pos_ + 1);
            return false;
        }
        return true;
    }

  private:
    const std::string& text_;
    size_t pos_ = 0;
    std::string error_;

    bool Fail(const char* why) {
        error_ = why;
        return false;
    }
    void Space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }
    bool Literal(const char* word) {
        const size_t n = std::char_traits<char>::length(word);
        if (text_.compare(pos_, n, word) != 0) return Fail("unknown word");
        pos_ += n;
        return true;
    }

    bool Value(JsonValue& v, int depth) {
        if (depth > MaxJsonDepth) return Fail("nested too deep");
        if (pos_ >= text_.size()) return Fail("a value is missing");
        const char c = text_[pos_];
        if (c == '{') return Object(v, depth);
        if (c == '[') return Array(v, depth);
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return String(v.string);
        }
        if (c == 't' || c == 'f') {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v.type = JsonValue::Type::Null;
            return Literal("null");
        }
        return Number(v);
    }

    bool Number(JsonValue& v) {
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        auto digits = [this] {
            const size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
                ++pos_;
            return pos_ - from;
        };
        const size_t int_start = pos_;
        const size_t n = digits();
        if (n == 0) return Fail("not a value");
        if (n > 1 && text_[int_start] == '0') return Fail("a number with a leading zero");
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) return Fail("a digit must follow the decimal point");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (digits() == 0) return Fail("a digit must follow the exponent");
        }
        v.type = JsonValue::Type::Number;
        v.number = std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
        if (!std::isfinite(v.number)) return Fail("a number out of range");
        return true;
    }

    bool Hex4(uint32_t& out) {
        if (pos_ + 4 > text_.size()) return Fail("a short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= uint32_t(c - 'A' + 10);
            else
                return Fail("a bad \\u escape");
        }
        return true;
    }

    bool String(std::string& out) {
        ++pos_; // the opening quote
        out.clear();
        while (pos_ < text_.size()) {
            const unsigned char c = uint8_t(text_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("a control character in a string");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (pos_ >= text_.size()) break;
            const char e = text_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!Hex4(cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00) { // a high surrogate wants its low half
                    uint32_t low;
                    if (text_.compare(pos_, 2, "\\u") != 0) return Fail("a lone surrogate");
                    pos_ += 2;
                    if (!Hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return Fail("a lone surrogate");
                }
                AppendUtf8(out, cp);
                break;
            }
            default: return Fail("an unknown escape");
            }
        }
        return Fail("a string without its closing quote");
    }

    bool Array(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Array;
        ++pos_;
        Space();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            v.array.emplace_back();
            Space();
            if (!Value(v.array.back(), depth + 1)) return false;
            Space();
            if (pos_ >= text_.size()) return Fail("an array without its closing bracket");
            if (text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            if (text_[pos_++] != ',') return Fail("a comma or ] expected");
        }
    }

    bool Object(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Object;
        ++pos_;
        Space();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            Space();
            if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("a member name expected");
            std::string name;
            if (!String(name)) return false;
            Space();
            if (pos_ >= text_.size() || text_[pos_++] != ':') return Fail("a colon expected");
            Space();
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            if (!v.object.emplace(name, std::move(member)).second)
                return Fail("a member name given twice");
            Space();
            if (pos_ >= text_.size()) return Fail("an object without its closing brace");
            if (text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            if (text_[pos_++] != ',') return Fail("a comma or } expected");
        }
    }
};

} // namespace

const JsonValue* JsonValue::Find(const std::string& name) const {
    if (type != Type::Object) return nullptr;
    auto it = object.find(name);
    return it == object.end() ? nullptr : &it->second;
}

bool JsonValue::Integer(int64_t min, int64_t max, int64_t& out) const {
    if (type != Type::Number || number != std::floor(number) || number < double(min) ||
        number > double(max))
        return false;
    out = int64_t(number);
    return true;
}

bool ParseJson(const std::string& text, JsonValue& out, std::string& error) {
    out = JsonValue{};
    return Parser(text).Parse(out, error);
}

size_t Utf8SequenceLength(const std::string& s, size_t at) {
    const uint8_t c = uint8_t(s[at]);
    if (c < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0)
        n = 1, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        n = 2, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        n = 3, cp = c & 0x07;
    else
        return 0;
    if (at + n >= s.size()) return 0; // cut short
    for (size_t k = 1; k <= n; ++k) {
        const uint8_t b = uint8_t(s[at + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
    return n + 1;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = uint8_t(s[i]);
        if (c >= 0x80) {
            // A valid character passes; a byte that is not part of one (a file name from a state
            // file, a symbol file) is given as the character of its value, so the answer stays
            // UTF-8 and the byte can still be told.
            const size_t n = Utf8SequenceLength(s, i);
            if (n > 0) {
                out.append(s, i, n);
                i += n - 1;
            } else {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

JsonObjectWriter& JsonObjectWriter::Raw(const std::string& name, const std::string& json) {
    if (!body_.empty()) body_ += ",";
    body_ += JsonString(name) + ":" + json;
    return *this;
}
