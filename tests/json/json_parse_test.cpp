#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/json.h"

namespace {

using tsl::Json;

std::string parseError(const std::string& text) {
    try {
        Json::parse(text);
    } catch (const tsl::JsonError& e) {
        return e.what();
    }
    return "(parsed)";
}

std::string nested(int depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(JsonParse, FailuresWithReasonAndOffset) {
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"", "Invalid JSON at offset 0: unexpected end"},
        {"    ", "Invalid JSON at offset 4: unexpected end"},
        {"{\"a\" 1}", "Invalid JSON at offset 5: expected ':'"},
        {"{\"a\":1,}", "Invalid JSON at offset 7: expected key"},
        {"[1,]", "Invalid JSON at offset 3: unexpected character"},
        {"[1 2]", "Invalid JSON at offset 3: expected ',' or ']'"},
        {"[1", "Invalid JSON at offset 2: expected ',' or ']'"},
        {"{\"a\":1", "Invalid JSON at offset 6: expected ',' or '}'"},
        {"{\"a\":1 \"b\"}", "Invalid JSON at offset 7: expected ',' or '}'"},
        {"{1:2}", "Invalid JSON at offset 1: expected key"},
        {"{", "Invalid JSON at offset 1: expected key"},
        {"\"abc", "Invalid JSON at offset 4: unterminated string"},
        {"\"", "Invalid JSON at offset 1: unterminated string"},
        {"\"a\\", "Invalid JSON at offset 3: unterminated escape"},
        {"\"\\x\"", "Invalid JSON at offset 3: bad escape"},
        {"\"\\u12\"", "Invalid JSON at offset 3: bad \\u escape"},
        {"\"\\u12g4\"", "Invalid JSON at offset 6: bad \\u escape"},
        {"\"\\ud83d\"", "Invalid JSON at offset 7: lone surrogate"},
        {"\"\\ud83d\\u0041\"", "Invalid JSON at offset 13: bad surrogate pair"},
        {"\"\\ud83d\\u00\"", "Invalid JSON at offset 9: bad \\u escape"},
        {"truefalse", "Invalid JSON at offset 4: trailing characters"},
        {"nul", "Invalid JSON at offset 0: unexpected character"},
        {"-", "Invalid JSON at offset 1: bad number"},
        {"1e", "Invalid JSON at offset 2: bad number"},
        {"1-2", "Invalid JSON at offset 3: bad number"},
        {"--1", "Invalid JSON at offset 3: bad number"},
        {".5", "Invalid JSON at offset 0: unexpected character"},
        {"+1", "Invalid JSON at offset 0: unexpected character"},
        {"\xEF\xBB\xBF{}", "Invalid JSON at offset 0: unexpected character"},
        {nested(65, "1"), "Invalid JSON at offset 65: nested too deeply"},
        {nested(66, ""), "Invalid JSON at offset 65: nested too deeply"},
        {"{\"a\":" + nested(64, "1") + "}", "Invalid JSON at offset 69: nested too deeply"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseError(c.text), c.error) << c.text;
}

TEST(JsonParse, AcceptedEdges) {
    EXPECT_EQ(Json::parse(nested(64, "1")).kind(), Json::Kind::Array);
    EXPECT_EQ(Json::parse(nested(65, "")).kind(), Json::Kind::Array);
    const std::string deep = nested(64, "\"" + std::string(5000, 'x') + "\"");
    EXPECT_EQ(Json::parse(deep).dump(), deep);
    EXPECT_EQ(Json::parse("\"\\ud83d\\ude00\"").stringOr(""), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Json::parse("\"\\udc00\"").stringOr(""), "\xED\xB0\x80");
    EXPECT_EQ(Json::parse("\"a\\u0000b\"").stringOr(""), std::string("a\0b", 3));
    EXPECT_EQ(Json::parse("\"\t\"").stringOr(""), "\t");
    EXPECT_EQ(Json::parse("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\"").stringOr(""),
              "\"\\/\b\f\n\r\t\xC3\xA9");
    EXPECT_EQ(Json::parse("{\"a\":1,\"a\":2}").get("a").intOr(0), 2);
    EXPECT_TRUE(Json::parse(" null ").isNull());
}

// Appends text to json as a JSON string, each byte in one of the forms the reader accepts,
// picked at random; now and then a surrogate pair goes into both.
void appendVariously(std::mt19937& rng, const std::string& text, std::string& expected,
                     std::string& json) {
    static const char kHex[] = "0123456789abcdef0123456789ABCDEF";
    json += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const unsigned form = rng() % 4;
        if (form == 0 && c < 0x80) {
            const unsigned upper = (rng() % 2) * 16;
            json += "\\u00";
            json += kHex[(c >> 4) + upper];
            json += kHex[(c & 0xF) + upper];
        } else if (c == '"' || c == '\\' || c == '/') {
            json += '\\';
            json += ch;
        } else if (form == 1 && c == '\n') {
            json += "\\n";
        } else if (form == 1 && c == '\t') {
            json += "\\t";
        } else {
            json += ch;  // raw, control bytes included
        }
        expected += ch;
        if (rng() % 64 == 0) {
            json += "\\ud83d\\ude00";
            expected += "\xF0\x9F\x98\x80";
        }
    }
    json += '"';
}

TEST(JsonParse, LongStringsInEveryEscapedForm) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> texts;
        std::string json = "[";
        for (int i = 0; i < 12; ++i) {
            std::string text;
            const std::size_t size = rng() % (round < 20 ? 70 : 3000);
            for (std::size_t k = 0; k < size; ++k) {
                static const char kBytes[] = "ab<>=\"\\/\n\t\r\x01\x7f\xc3\xa9 ";
                text += kBytes[rng() % (sizeof(kBytes) - 1)];
            }
            if (rng() % 3 == 0) text += '\\';  // a closing quote right after an escaped backslash
            std::string expected;
            if (i > 0) json += rng() % 2 ? "," : " ,\n";
            appendVariously(rng, text, expected, json);
            texts.push_back(std::move(expected));
        }
        json += "]";
        const Json value = Json::parse(json);
        ASSERT_EQ(value.items().size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(value.items()[i].stringOr("-"), texts[i]) << json;
    }
}

TEST(JsonParse, LenientNumbers) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {{"007", 7},
                 {"1.", 1},
                 {"-.5", -0.5},
                 {"1E2", 100},
                 {"-0", -0.0},
                 {"1e-400", 0},
                 {"0.1", 0.1},
                 {"123456789012345678", 123456789012345678.0},
                 {"999999999999999", 999999999999999.0},
                 {"-999999999999999", -999999999999999.0},
                 {"9007199254740993", 9007199254740992.0},
                 {"00000000000000000042", 42},
                 {"2147483648", 2147483648.0}};
    for (const Case& c : cases) {
        const Json v = Json::parse(c.text);
        ASSERT_TRUE(v.isNumber()) << c.text;
        EXPECT_EQ(Json::parse(std::string("[") + c.text + "]").items()[0].dump(),
                  Json(c.value).dump())
            << c.text;
    }
    // Out of range: infinities, which read as the saturated integers and are written as null.
    EXPECT_EQ(Json::parse("1e999").intOr(0), std::numeric_limits<int>::max());
    EXPECT_EQ(Json::parse("-1e999").intOr(0), std::numeric_limits<int>::min());
    EXPECT_EQ(Json::parse("[1e999]").dump(), "[null]");
}

TEST(JsonParse, NumbersIgnoreTheProcessLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"};
    const std::string old = std::setlocale(LC_ALL, nullptr);
    bool switched = false;
    for (const char* name : names) {
        if (std::setlocale(LC_ALL, name)) {
            switched = true;
            break;
        }
    }
    if (!switched || std::localeconv()->decimal_point[0] != ',') {
        std::setlocale(LC_ALL, old.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    std::string text;
    EXPECT_NO_THROW(text = Json::parse("[2.5,0.1,-1.25e2]").dump());
    std::setlocale(LC_ALL, old.c_str());
    EXPECT_EQ(text, "[2.5,0.10000000000000001,-125]");
}

}  // namespace
