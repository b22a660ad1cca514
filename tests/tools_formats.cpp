// The file formats the runner reads and writes through libraries: the control protocol's JSON,
// PNG pictures, and the hashes that name ROM images and guard saved states.
#include "common/fnv.h"
#include "display/picture_files.h"
#include "system/state.h"
#include "test_support.h"
#include "tools/json.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

// A refused line is answered with what is wrong and where: the column of the character that is
// wrong (of the start of a bad number or word), or the end of the line when it ended too soon.
TEST(JsonRead, ErrorsSayWhatAndWhere) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"", "a value is missing at column 1"},
        {"  ", "a value is missing at column 3"},
        {"[1,2", "an array without its closing bracket at column 5"},
        {"[1 2]", "a comma or ] expected at column 4"},
        {"[1,]", "not a value at column 4"},
        {R"({"a":1)", "an object without its closing brace at column 7"},
        {R"({"a":1 2})", "a comma or } expected at column 8"},
        {R"({"a" 1})", "a colon expected at column 6"},
        {R"({"a":1,})", "a member name expected at column 8"},
        {"[1] [2]", "unexpected text after the value at column 5"},
        {"[tru]", "unknown word at column 2"},
        {"-", "a digit must follow the minus sign at column 1"},
        {"[1.]", "a digit must follow the decimal point at column 2"},
        {"1e+", "a digit must follow the exponent at column 1"},
        {"[0,1e999]", "a number out of range at column 4"},
        {R"("ab)", "a string without its closing quote at column 4"},
        {R"(["\x"])", "an unknown escape at column 4"},
        {R"("\u12G4")", "a bad \\u escape at column 6"},
        {R"("\udc00")", "a lone surrogate at column 7"},
        {"\"a\x01\"", "a control character in a string at column 3"},
        // A name given twice is seen once its second value is complete.
        {R"({"a":1,"a":2})", "a member name given twice at column 13"},
        {R"({"a":"x","a":"y"})", "a member name given twice at column 17"},
        {R"({"a":[],"b":{"a":{},"a":{}}})", "a member name given twice at column 27"},
    };
    for (const auto& c : cases) {
        JsonValue v;
        std::string error;
        EXPECT_FALSE(ParseJson(c.text, v, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    // Nesting: MaxJsonDepth levels below the top one pass, one more does not.
    for (int levels : {MaxJsonDepth + 1, MaxJsonDepth + 2}) {
        const std::string text =
            std::string(size_t(levels), '[') + std::string(size_t(levels), ']');
        const std::string with_value =
            std::string(size_t(levels), '[') + "0" + std::string(size_t(levels), ']');
        JsonValue v;
        std::string error;
        EXPECT_EQ(ParseJson(text, v, error), levels <= MaxJsonDepth + 1) << levels << error;
        EXPECT_EQ(ParseJson(with_value, v, error), levels <= MaxJsonDepth) << levels << error;
    }
}

TEST(JsonRead, ValuesComeThroughWhole) {
    JsonValue v;
    std::string error;
    ASSERT_TRUE(ParseJson(
        R"({"a":{"x":1},"b":{"x":[true,null,"\u0000z",-7,1e2,18446744073709551615]}})", v, error))
        << error;
    const JsonValue* list = v.Find("b")->Find("x");
    ASSERT_EQ(list->type, JsonValue::Type::Array);
    ASSERT_EQ(list->array.size(), 6u);
    EXPECT_TRUE(list->array[0].boolean);
    EXPECT_EQ(list->array[1].type, JsonValue::Type::Null);
    EXPECT_EQ(list->array[2].string, std::string("\0z", 2));
    int64_t n;
    EXPECT_TRUE(list->array[3].Integer(-7, -7, n));
    EXPECT_TRUE(list->array[4].Integer(100, 100, n));
    EXPECT_FALSE(list->array[5].Integer(0, INT64_MAX, n));
    EXPECT_TRUE(v.Find("a")->Find("x")->Integer(1, 1, n));
    EXPECT_EQ(v.Find("c"), nullptr);
}

// Answers: fields in the order set, strings escaped as the protocol has always written them, bytes
// that are not UTF-8 as the character of their value; what is written reads back.
TEST(JsonWrite, OrderEscapesAndBytesThatAreNotUtf8) {
    Json answer = {{"ok", true}, {"z", -3}, {"a", 65535u}};
    answer["list"] = {Json::object(), Json::array(), nullptr, false, 1.5};
    answer["text"] = "\xC3\xA5\x1F\t\"\\/";
    answer["name"] = "LOG\xE9TXT\xC3";
    const std::string text = JsonText(answer);
    EXPECT_EQ(text, "{\"ok\":true,\"z\":-3,\"a\":65535,\"list\":[{},[],null,false,1.5],"
                    "\"text\":\"\xC3\xA5\\u001F\\t\\\"\\\\/\",\"name\":\"LOG\\u00E9TXT\\u00C3\"}");
    JsonValue back;
    std::string error;
    ASSERT_TRUE(ParseJson(text, back, error)) << error;
    EXPECT_EQ(back.Find("text")->string, "\xC3\xA5\x1F\t\"\\/");
    EXPECT_EQ(back.Find("name")->string, "LOG\xC3\xA9TXT\xC3\x83");
}

// Pictures are compressed, and decompress to the rows they were made of.
TEST(Png, CompressedAndExact) {
    ScratchFolder folder;
    constexpr int Width = 240, Height = 240, RowBytes = 32; // rows wider than the picture
    std::vector<uint8_t> blank(size_t(Height) * RowBytes, 0), pattern(blank.size());
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t(i * 37 + i / 7);
    for (const auto* rows : {&blank, &pattern}) {
        ASSERT_TRUE(WritePng1Bit("p.png", rows->data(), Width, Height, RowBytes));
        const std::string png = folder.ReadFile("p.png");
        const size_t idat = png.find("IDAT");
        ASSERT_NE(idat, std::string::npos);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(png.data());
        const uLong length =
            uLong(b[idat - 4]) << 24 | b[idat - 3] << 16 | b[idat - 2] << 8 | b[idat - 1];
        const size_t line = Width / 8 + 1;
        std::vector<uint8_t> raw(line * Height + 1);
        uLongf size = uLongf(raw.size());
        ASSERT_EQ(uncompress(raw.data(), &size, b + idat + 4, length), Z_OK);
        ASSERT_EQ(size, line * Height);
        for (int y = 0; y < Height; ++y) {
            EXPECT_EQ(raw[size_t(y) * line], 0) << "filter byte of line " << y;
            EXPECT_EQ(0, std::memcmp(&raw[size_t(y) * line + 1],
                                     rows->data() + size_t(y) * RowBytes, line - 1))
                << "line " << y;
        }
        if (rows == &blank) {
            EXPECT_LT(png.size(), line * Height / 10);
        }
    }
}

// Published check values, and a hash taken in pieces equal to the whole.
TEST(Hashes, KnownValuesAndPieces) {
    const auto bytes = [](const char* s) { return reinterpret_cast<const uint8_t*>(s); };
    EXPECT_EQ(Fnv1a32(bytes(""), 0), 0x811C9DC5u);
    EXPECT_EQ(Fnv1a32(bytes("a"), 1), 0xE40C292Cu);
    EXPECT_EQ(Fnv1a32(bytes("foobar"), 6), 0xBF9CF968u);
    EXPECT_EQ(Fnv1a64(bytes("a"), 1), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(Fnv1a64(bytes("foobar"), 6), 0x85944171F73967E8ull);
    EXPECT_EQ(Fnv1a32(bytes("bar"), 3, Fnv1a32(bytes("foo"), 3)), 0xBF9CF968u);
    EXPECT_EQ(Fnv1a64(bytes("bar"), 3, Fnv1a64(bytes("foo"), 3)), 0x85944171F73967E8ull);
    EXPECT_EQ(StateCrc32(bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(StateHash64(bytes("foobar"), 6), 0x85944171F73967E8ull);
}

} // namespace
