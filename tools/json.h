// The control protocol's JSON, one value a line. Requests are read by nlohmann's parser, strictly
// (no comments, no trailing commas, no NaN, strings in UTF-8 with every escape of the standard),
// into a JsonValue; a member name given twice and nesting deeper than MaxJsonDepth are refused too.
// Answers are built as ordered Json objects, so fields come out in the order they are set, and
// written by JsonText.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr int MaxJsonDepth = 32;

using Json = nlohmann::ordered_json;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    // The member name of an object, or null when there is none.
    const JsonValue* Find(const std::string& name) const;
    // A whole number in [min, max]; false for anything else (a fraction, a string, out of range).
    bool Integer(int64_t min, int64_t max, int64_t& out) const;
};

// Parses the whole of text as one value; false with error (what and at which column) for anything
// else.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);

// A string as JSON, with its escapes ("\u00XX" for control characters). Bytes that are not UTF-8
// are written as \u00XX, the character of the byte's value: the text written is always valid
// UTF-8, whatever s holds.
std::string JsonString(const std::string& s);

// v on one line, its members in the order they were set, its strings written by JsonString (a
// file name taken from a state file may hold bytes that are not UTF-8, which nlohmann's own writer
// refuses).
std::string JsonText(const Json& v);
