#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string_view>
#include <type_traits>

#include "json/json.h"

namespace {

using tsl::Json;

static_assert(std::is_nothrow_move_constructible_v<Json>);
static_assert(std::is_nothrow_move_assignable_v<Json>);
static_assert(std::is_copy_constructible_v<Json>);

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
    EXPECT_EQ(answer.get("a").intOr(60), 60);
    EXPECT_EQ(answer.get("b").intOr(60), 60);
    EXPECT_EQ(answer.get("missing").intOr(60), 60);
    EXPECT_EQ(answer.get("c").intOr(60), 30);
    EXPECT_EQ(answer.get("d").intOr(60), -2);
    EXPECT_EQ(answer.get("e").intOr(60), std::numeric_limits<int>::max());
    EXPECT_EQ(answer.get("f").intOr(60), std::numeric_limits<int>::min());
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
    struct Case {
        Json value;
        const char* text;
    } cases[] = {
        {Json(200.0), "200"},
        {Json(-3.0), "-3"},
        {Json(0.0), "0"},
        {Json(-0.0), "0"},
        {Json(1.5), "1.5"},
        {Json(0.1), "0.10000000000000001"},
        {Json(1e20), "1e+20"},
        {Json(9e15), "9000000000000000"},
        {Json(8999999999999999.0), "8999999999999999"},
        {Json(1e16), "10000000000000000"},
        {Json(std::nan("")), "null"},
        {Json(std::numeric_limits<double>::infinity()), "null"},
        {Json(-std::numeric_limits<double>::infinity()), "null"},
        {Json(std::string("\t\"\x1F", 3)), "\"\\t\\\"\\u001f\""},
        {Json(std::string("\0\b\f\n\r\\/", 7)), "\"\\u0000\\b\\f\\n\\r\\\\/\""},
        {Json("\xC3\xA9\xFF"), "\"\xC3\xA9\xFF\""},
        {Json(""), "\"\""},
        {Json(Json::Array{}), "[]"},
        {Json(Json::Object{}), "{}"},
        {Json(Json::Array{Json(), Json(true), Json(std::nan(""))}), "[null,true,null]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value.dump(), c.text);
    Json o;
    o.set("xml", Json("x")).set("ref", Json("r")).set("ok", Json(true));
    o.set("a\"b", Json());
    EXPECT_EQ(o.dump(), R"({"a\"b":null,"ok":true,"ref":"r","xml":"x"})");
}

// The escaping table, byte by byte, as the writer must apply it.
std::string referenceEscape(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const std::size_t named = std::string_view("\"\\\b\t\n\f\r").find(ch);  // never '\0'
        if (named != std::string_view::npos) {
            out += '\\';
            out += "\"\\btnfr"[named];
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned char>(ch));
            out += buffer;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Mostly plain text with every kind of byte mixed in: stops land anywhere in a block.
std::string mixedText(std::mt19937& rng, std::size_t size, int stopsPerHundred) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        const int r = static_cast<int>(rng() % 100);
        if (r < stopsPerHundred) {
            static const char kStops[] = {'"', '\\', '\n', '\r', '\t', '\0', '\x1f', '\x0b'};
            text += kStops[rng() % sizeof(kStops)];
        } else if (r < stopsPerHundred + 3) {
            text += static_cast<char>(0x80 + rng() % 0x80);
        } else {
            text += static_cast<char>(0x20 + rng() % 0x5F);
        }
    }
    return text;
}

TEST(JsonDump, LongTextsFollowTheEscapeTable) {
    std::mt19937 rng(7);
    for (const std::size_t size :
         {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 4095, 4096, 4097, 8200, 70000}) {
        for (const int density : {0, 1, 10, 60, 100}) {
            const std::string text = mixedText(rng, size, density);
            const std::string expected = referenceEscape(text);
            ASSERT_EQ(Json(text).dump(), expected) << size << " " << density;
            std::string out = "prefix";
            Json(text).dumpTo(out);
            ASSERT_EQ(out, "prefix" + expected);
            ASSERT_EQ(Json::parse(expected).stringOr("-"), text) << size << " " << density;
        }
    }
    // The worst case: every byte written as \u00XX, over several chunks.
    const std::string controls(9000, '\x01');
    EXPECT_EQ(Json(controls).dump(), referenceEscape(controls));
}

Json randomValue(std::mt19937& rng, int depth) {
    std::uniform_int_distribution<int> kind(0, depth > 3 ? 3 : 5);
    switch (kind(rng)) {
        case 0:
            return Json();
        case 1:
            return Json(rng() % 2 == 0);
        case 2: {
            std::uniform_real_distribution<double> d(-1e18, 1e18);
            return Json(rng() % 2 ? std::floor(d(rng) / 1e6) : d(rng));
        }
        case 3: {
            std::string s;
            const std::size_t n = rng() % 40;
            for (std::size_t i = 0; i < n; ++i)
                s += static_cast<char>(rng() % 256);
            return Json(std::move(s));
        }
        case 4: {
            Json a(Json::Array{});
            for (std::size_t i = rng() % 5; i > 0; --i)
                a.push(randomValue(rng, depth + 1));
            return a;
        }
        default: {
            Json o(Json::Object{});
            for (std::size_t i = rng() % 5; i > 0; --i) {
                o.set(std::to_string(rng() % 100), randomValue(rng, depth + 1));
            }
            return o;
        }
    }
}

TEST(JsonDump, RoundTripOfGeneratedValues) {
    std::mt19937 rng(20261206);
    for (int i = 0; i < 500; ++i) {
        const Json v = randomValue(rng, 0);
        const std::string text = v.dump();
        const Json back = Json::parse(text);
        EXPECT_TRUE(back == v) << text;
        EXPECT_EQ(back.dump(), text);
    }
}

}  // namespace
