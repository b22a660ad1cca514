#include "tools/json.h"

#include "common/utf8.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// A character iterator that tells how far the parser has read, for the column of a member name
// given twice (nlohmann tells where only for its own errors).
struct ReadingIterator {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    const char* at;
    const char** read;

    reference operator*() const { return *at; }
    ReadingIterator& operator++() {
        *read = ++at;
        return *this;
    }
    bool operator==(const ReadingIterator& o) const { return at == o.at; }
    bool operator!=(const ReadingIterator& o) const { return at != o.at; }
};

// nlohmann's complaints as ours: the first entry whose words its message holds gives the words,
// the second ones when the line ended there.
struct Complaint {
    const char* says;
    const char* words;
    const char* words_at_end;
};
const Complaint Complaints[] = {
    {"number overflow", "a number out of range", nullptr},
    {"after '-'", "a digit must follow the minus sign", nullptr},
    {"after '.'", "a digit must follow the decimal point", nullptr},
    {"after exponent", "a digit must follow the exponent", nullptr},
    {"control character", "a control character in a string", nullptr},
    {"surrogate", "a lone surrogate", nullptr},
    {"'\\u' must be followed", "a bad \\u escape", "a short \\u escape"},
    {"forbidden character after backslash", "an unknown escape", nullptr},
    {"ill-formed UTF-8", "a string that is not UTF-8", nullptr},
    {"missing closing quote", "a string without its closing quote", nullptr},
    {"; expected end of input", "unexpected text after the value", nullptr},
    {"; expected string literal", "a member name expected", nullptr},
    {"; expected ':'", "a colon expected", nullptr},
    {"; expected '}'", "a comma or } expected", "an object without its closing brace"},
    {"; expected ']'", "a comma or ] expected", "an array without its closing bracket"},
    {"invalid literal", "not a value", "a value is missing"},
    {"; expected '[', '{', or a literal", "not a value", "a value is missing"},
};

// Builds the JsonValue as the parser reads, refusing what nlohmann lets pass: a member name given
// twice (said at the end of the second one's value, as the member is complete) and nesting deeper
// than MaxJsonDepth.
class Builder final : public nlohmann::json_sax<Json> {
  public:
    Builder(const std::string& text, const char** read) : text_(text), read_(read) {}

    JsonValue root;
    std::string error;

    bool null() override { return Scalar(JsonValue{}); }
    bool boolean(bool b) override {
        JsonValue v;
        v.type = JsonValue::Type::Bool;
        v.boolean = b;
        return Scalar(v);
    }
    bool number_integer(number_integer_t n) override { return Number(double(n)); }
    bool number_unsigned(number_unsigned_t n) override { return Number(double(n)); }
    bool number_float(number_float_t n, const string_t&) override { return Number(n); }
    bool string(string_t& s) override {
        JsonValue v;
        v.type = JsonValue::Type::String;
        v.string = std::move(s);
        return Scalar(v);
    }
    bool binary(binary_t&) override { return Fail("not a value", *read_); }
    bool start_object(std::size_t) override { return Open(JsonValue::Type::Object); }
    bool key(string_t& name) override {
        twice_ = open_.back()->object.count(name) != 0;
        key_ = std::move(name);
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(JsonValue::Type::Array); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        // position is the column of the character the parser stopped at, the end of the line
        // counting as one; a bad number or a word it does not know is said where it starts.
        const bool at_end = position > text_.size();
        size_t start = position > 0 ? position - 1 : 0;
        const std::string said = e.what();
        const char* words = nullptr;
        for (const Complaint& c : Complaints)
            if (said.find(c.says) != std::string::npos) {
                words = at_end && c.words_at_end ? c.words_at_end : c.words;
                break;
            }
        if (said.find("invalid number") != std::string::npos ||
            said.find("number overflow") != std::string::npos) {
            while (start > 0 && std::strchr("0123456789+-.eE", text_[start - 1]))
                --start;
        }
        if (said.find("invalid literal") != std::string::npos) {
            while (start > 0 && std::isalpha(uint8_t(text_[start - 1])))
                --start;
            if (start < text_.size() && std::isalpha(uint8_t(text_[start]))) words = "unknown word";
        }
        if (!words) { // one we have no words for: nlohmann's own, after its position
            const size_t colon = said.find(": ");
            return Fail(colon == std::string::npos ? said : said.substr(colon + 2),
                        text_.data() + start);
        }
        return Fail(words, text_.data() + start);
    }

  private:
    const std::string& text_;
    const char** read_;
    std::vector<JsonValue*> open_; // the arrays and objects being read, innermost last
    std::string key_;
    bool twice_ = false;                  // the member being read has a name given before
    std::vector<size_t> duplicate_depth_; // the open containers that are such a member's value
    bool failed_ = false;

    bool Fail(const std::string& why, const char* where) {
        if (!failed_) error = why + " at column " + std::to_string(where - text_.data() + 1);
        failed_ = true;
        return false;
    }

    bool Number(double n) {
        // The parser has read the character after the number too, unless the line ended.
        const char* end = *read_;
        if (end > text_.data() && !std::isdigit(uint8_t(end[-1]))) --end;
        JsonValue v;
        v.type = JsonValue::Type::Number;
        v.number = n;
        return Place(std::move(v), end) != nullptr;
    }
    bool Scalar(JsonValue v) { return Place(std::move(v), *read_) != nullptr; }

    // Puts a value where the parser is: the root, the next element or the member just named.
    JsonValue* Place(JsonValue v, const char* end) {
        if (int(open_.size()) > MaxJsonDepth) {
            Fail("nested too deep", end);
            return nullptr;
        }
        if (open_.empty()) {
            root = std::move(v);
            return &root;
        }
        JsonValue& parent = *open_.back();
        if (parent.type == JsonValue::Type::Array) {
            parent.array.push_back(std::move(v));
            return &parent.array.back();
        }
        if (twice_ && v.type != JsonValue::Type::Array && v.type != JsonValue::Type::Object) {
            Fail("a member name given twice", end);
            return nullptr;
        }
        return &(parent.object[key_] = std::move(v));
    }
    bool Open(JsonValue::Type type) {
        JsonValue v;
        v.type = type;
        const bool twice = twice_;
        twice_ = false; // its own members are checked on their own
        JsonValue* placed = Place(std::move(v), *read_);
        if (!placed) return false;
        open_.push_back(placed);
        if (twice) duplicate_depth_.push_back(open_.size());
        return true;
    }
    bool Close() {
        const bool twice = !duplicate_depth_.empty() && duplicate_depth_.back() == open_.size();
        open_.pop_back();
        if (twice) return Fail("a member name given twice", *read_);
        return true;
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
    const char* read = text.data();
    Builder builder(text, &read);
    const ReadingIterator first{text.data(), &read}, last{text.data() + text.size(), &read};
    const bool ok = Json::sax_parse(first, last, &builder) && builder.error.empty();
    out = ok ? std::move(builder.root) : JsonValue{};
    if (!ok) error = builder.error.empty() ? "not a value at column 1" : builder.error;
    return ok;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = uint8_t(s[i]);
        if (c >= 0x80) {
            // A valid character passes; a byte that is not part of one (a file name from a state
            // file, a symbol file) is given as the character of its value, so the answer stays
            // UTF-8 and the byte can still be told.
            const size_t from = i;
            uint32_t cp;
            if (DecodeUtf8(s.data(), s.size(), i, cp)) {
                out.append(s, from, i - from);
            } else {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
                ++i;
            }
            continue;
        }
        ++i;
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

std::string JsonText(const Json& v) {
    if (v.is_string()) return JsonString(v.get_ref<const std::string&>());
    if (!v.is_structured()) return v.dump();
    std::string out;
    for (auto it = v.begin(); it != v.end(); ++it) {
        out += out.empty() ? "" : ",";
        if (v.is_object()) out += JsonString(it.key()) + ":";
        out += JsonText(it.value());
    }
    return v.is_object() ? "{" + out + "}" : "[" + out + "]";
}
