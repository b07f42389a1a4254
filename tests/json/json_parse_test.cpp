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

// The text as a JSON string, each byte in one of the forms the reader accepts, picked at random
// (\u00XX in either case, raw control bytes); now and then a surrogate pair goes into both.
std::string variously(std::mt19937& rng, std::string& text) {
    static const char kHex[] = "0123456789abcdef0123456789ABCDEF";
    std::string json = "\"", plain;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (rng() % 4 == 0 && c < 0x80) {
            const unsigned upper = (rng() % 2) * 16;
            json += {'\\', 'u', '0', '0', kHex[(c >> 4) + upper], kHex[(c & 0xF) + upper]};
        } else {
            if (c == '"' || c == '\\' || c == '/') json += '\\';
            json += ch;
        }
        plain += ch;
        if (rng() % 64 == 0) {
            json += "\\ud83d\\ude00";
            plain += "\xF0\x9F\x98\x80";
        }
    }
    text = plain;
    return json + '"';
}

TEST(JsonParse, LongStringsInEveryEscapedForm) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> texts(12);
        std::string json = "[";
        for (std::string& text : texts) {
            static const char kBytes[] = "ab<>=\"\\/\n\t\r\x01\x7f\xc3\xa9 ";
            for (std::size_t k = rng() % (round < 20 ? 70 : 3000); k > 0; --k)
                text += kBytes[rng() % (sizeof(kBytes) - 1)];
            if (rng() % 3 == 0) text += '\\';  // a closing quote right after an escaped backslash
            if (json.size() > 1) json += rng() % 2 ? "," : " ,\n";
            json += variously(rng, text);
        }
        const Json value = Json::parse(json + "]");
        ASSERT_EQ(value.items().size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(value.items()[i].stringOr("-"), texts[i]) << json;
    }
}

TEST(JsonParse, LenientNumbers) {
    EXPECT_EQ(
        Json::parse("[007, 1., -.5, 1E2, -0, 1e-400, 0.1, 123456789012345678, 999999999999999,"
                    "-999999999999999, 9007199254740993, 00000000000000000042, 2147483648]")
            .dump(),
        "[7,1,-0.5,100,0,0,0.10000000000000001,1.2345678901234568e+17,999999999999999,"
        "-999999999999999,9007199254740992,42,2147483648]");
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
