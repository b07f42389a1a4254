#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

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
    const std::pair<std::string, const char*> cases[] = {
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
    for (const auto& [text, error] : cases)
        EXPECT_EQ(parseError(text), error) << text;
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
    const std::string old = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"})
        if (std::setlocale(LC_ALL, name)) break;
    if (std::localeconv()->decimal_point[0] != ',') {
        std::setlocale(LC_ALL, old.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    std::string text;
    EXPECT_NO_THROW(text = Json::parse("[2.5,0.1,-1.25e2]").dump());
    std::setlocale(LC_ALL, old.c_str());
    EXPECT_EQ(text, "[2.5,0.10000000000000001,-125]");
}

}  // namespace
