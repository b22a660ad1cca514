// A small strict JSON reader and writer for the control protocol: one value per line, no
// extensions (no comments, no trailing commas, no NaN), nesting at most MaxJsonDepth deep, strings
// in UTF-8 with every escape of the standard. Numbers keep their double value; whether one is a
// whole number in range is the reader's business (JsonValue::Integer).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr int MaxJsonDepth = 32;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object; // a key given twice is an error when parsing

    // The member name of an object, or null when there is none.
    const JsonValue* Find(const std::string& name) const;
    // A whole number in [min, max]; false for anything else (a fraction, a string, out of range).
    bool Integer(int64_t min, int64_t max, int64_t& out) const;
};

// Parses the whole of text as one value; false with error (what and where) for anything else.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);

// Writes JSON: a string with its escapes ("\u00XX" for control characters), and an object built
// member by member in the order given.
// Bytes that are not UTF-8 are written as \u00XX, the character of the byte's value: the text
// written is always valid UTF-8, whatever s holds.
std::string JsonString(const std::string& s);

// The length of the strict UTF-8 sequence (no overlong forms, no surrogates, nothing past
// U+10FFFF) starting at s[at]; 0 when none starts there.
size_t Utf8SequenceLength(const std::string& s, size_t at);

class JsonObjectWriter {
  public:
    JsonObjectWriter& Raw(const std::string& name, const std::string& json);
    JsonObjectWriter& Str(const std::string& name, const std::string& value) {
        return Raw(name, JsonString(value));
    }
    JsonObjectWriter& Num(const std::string& name, int64_t value) {
        return Raw(name, std::to_string(value));
    }
    JsonObjectWriter& Bool(const std::string& name, bool value) {
        return Raw(name, value ? "true" : "false");
    }
    std::string Done() const { return "{" + body_ + "}"; }

  private:
    std::string body_;
};
