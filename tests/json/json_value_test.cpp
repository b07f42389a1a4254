#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace {

using tsl::Json;

TEST(JsonValue, ReadsNeverFail) {
    // A server may answer any kind where an object belongs.
    for (Json v : {Json(), Json(1.0), Json("x"), Json(Json::Array{})}) {
        EXPECT_TRUE(v.get("x").isNull());
        EXPECT_TRUE(v.get("job").get("id").isNull());
        EXPECT_EQ(v.get("job").get("id").stringOr("d"), "d");
        EXPECT_EQ(v.find("job"), nullptr);
        EXPECT_EQ(v.elements() != nullptr, v.isArray());
    }
    EXPECT_TRUE(Json(Json::Object{}).items().empty());
    const Json answer = Json::parse(R"({"a":"30","b":true,"c":30.9,"d":-2.7,"e":1e20,"f":-1e20})");
    const std::pair<const char*, int> ints[] = {
        {"a", 60}, {"b", 60}, {"missing", 60}, {"c", 30}, {"d", -2}, {"e", INT_MAX}, {"f", INT_MIN},
    };
    for (const auto& [key, value] : ints)
        EXPECT_EQ(answer.get(key).intOr(60), value) << key;
    EXPECT_EQ(Json(std::nan("")).intOr(60), 60);
    EXPECT_EQ(answer.get("b").boolOr(false), true);
    EXPECT_EQ(answer.get("a").boolOr(false), false);
    EXPECT_EQ(answer.get("c").stringOr(""), "");
    Json owned = answer;
    ASSERT_NE(owned.find("a"), nullptr);
    EXPECT_EQ(owned.find("a")->takeStringOr(""), "30");
    EXPECT_EQ(owned.find("missing"), nullptr);
}

TEST(JsonValue, SetAndPushChangeKindAndShare) {
    Json v("text");
    v.set("ok", Json(true)).set("body", Json("b")).set("ref", Json("r")).set("ok", Json(false));
    EXPECT_EQ(v.dump(), R"({"body":"b","ok":false,"ref":"r"})");

    Json a;
    a.push(Json(1.0));
    Json b = a;
    a.push(Json(2.0));
    EXPECT_EQ(b.items().size(), 2u);  // copies share the container

    Json o;
    o.set("k", Json(1.0));
    Json p = o;
    p.set("k", Json(2.0));
    EXPECT_EQ(o.get("k").intOr(0), 2);
}

TEST(JsonDump, Table) {
    const std::pair<Json, const char*> cases[] = {
        {Json(-3.0), "-3"},
        {Json(0.0), "0"},
        {Json(-0.0), "0"},
        {Json(0.1), "0.10000000000000001"},
        {Json(1e20), "1e+20"},
        {Json(9e15), "9000000000000000"},
        {Json(8999999999999999.0), "8999999999999999"},
        {Json(1e16), "10000000000000000"},
        {Json(std::nan("")), "null"},
        {Json(std::numeric_limits<double>::infinity()), "null"},
        {Json(-std::numeric_limits<double>::infinity()), "null"},
        {Json(std::string("\0\b\f\n\r\\/", 7)), "\"\\u0000\\b\\f\\n\\r\\\\/\""},
        {Json(Json::Array{Json(), Json(true), Json(std::nan(""))}), "[null,true,null]"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(value.dump(), text);
}

// The escaping table, byte by byte, as the writer must apply it.
std::string referenceEscape(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const std::size_t named = std::string_view("\"\\\b\t\n\f\r").find(ch);  // never '\0'
        char buffer[8] = {ch};
        if (named != std::string_view::npos) {
            std::snprintf(buffer, sizeof(buffer), "\\%c", "\"\\btnfr"[named]);
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned char>(ch));
        }
        out += buffer;
    }
    return out + "\"";
}

// Mostly plain text with every kind of byte mixed in: stops land anywhere in a block.
std::string mixedText(std::mt19937& rng, std::size_t size, int stopsPerHundred) {
    static const char kStops[] = {'"', '\\', '\n', '\r', '\t', '\0', '\x1f', '\x0b'};
    std::string text(size, ' ');
    for (char& c : text) {
        const int r = static_cast<int>(rng() % 100);
        c = static_cast<char>(r < stopsPerHundred       ? kStops[rng() % sizeof(kStops)]
                              : r < stopsPerHundred + 3 ? 0x80 + rng() % 0x80
                                                        : 0x20 + rng() % 0x5F);
    }
    return text;
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

// Texts of every length around the block sizes, from plain to all escapes: written as the table
// says and read back from that, and from every other form, many strings in one document.
TEST(JsonText, LongTextsBothWays) {
    std::mt19937 rng(7);
    std::vector<std::string> texts;
    std::string array = "[";
    for (const std::size_t size :
         {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 4095, 4096, 4097, 8200, 70000}) {
        for (const int density : {0, 1, 10, 60, 100}) {
            std::string text = mixedText(rng, size, density);
            if (rng() % 3 == 0) text += '\\';  // a closing quote right after an escaped backslash
            const std::string expected = referenceEscape(text);
            ASSERT_EQ(Json(text).dump(), expected) << size << " " << density;
            std::string out = "prefix";
            Json(text).dumpTo(out);
            ASSERT_EQ(out, "prefix" + expected);
            ASSERT_EQ(Json::parse(expected).stringOr("-"), text) << size << " " << density;
            if (!texts.empty()) array += rng() % 2 ? "," : " ,\n";
            array += variously(rng, text);
            texts.push_back(text);
        }
    }
    const Json value = Json::parse(array + "]");
    ASSERT_EQ(value.items().size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(value.items()[i].stringOr("-"), texts[i]) << i;
    // The worst case: every byte written as \u00XX, over several chunks.
    const std::string controls(9000, '\x01');
    EXPECT_EQ(Json(controls).dump(), referenceEscape(controls));
}

// Every kind, nested, with numbers that need all 17 digits and a string of every byte: written
// back byte for byte, and read again into an equal value.
TEST(JsonDump, RoundTripOfEveryKind) {
    std::string everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte += static_cast<char>(i);
    const std::string text =
        R"({"":[],"a":[null,true,false,0.30000000000000004,-1.7976931348623157e+308,)"
        R"(4.9406564584124654e-324,-42,{"b":{"c":{}}}],"a\"b":null,"d":)" +
        referenceEscape(everyByte) + "}";
    const Json value = Json::parse(text);
    EXPECT_EQ(value.dump(), text);
    EXPECT_TRUE(Json::parse(value.dump()) == value);
    std::string other = text;
    EXPECT_FALSE(Json::parse(other.replace(other.find("-42"), 3, "-43")) == value);
}

}  // namespace
