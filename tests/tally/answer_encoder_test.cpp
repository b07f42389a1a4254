#include "tally/answer_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "json/json_escape.h"
#include "support/text.h"

namespace tsl {
namespace {

// Keeps every write; gives its text back in pieces of 5 bytes, which cut escapes.
struct Sink : AnswerSink {
    std::string text;
    std::vector<std::string> writes;
    void write(std::string_view piece) override {
        text += piece;
        writes.emplace_back(piece);
    }
    void restart(const std::function<void(std::string_view)>& replay) override {
        const std::string old = std::exchange(text, {});
        for (std::size_t at = 0; at < old.size(); at += 5)
            replay(std::string_view(old).substr(at, 5));
    }
};

std::string utf16(std::u16string_view text, bool littleEndian) {
    std::string bytes;
    for (const char16_t unit : text)
        bytes += littleEndian ? std::string{char(unit & 0xFF), char(unit >> 8)}
                              : std::string{char(unit >> 8), char(unit & 0xFF)};
    return bytes;
}

TEST(AnswerEncoder, StreamsWhatTheWholeAnswerGives) {
    std::string text;  // some pieces long: escapes, controls, two- to four-byte UTF-8
    std::u16string units = u"xy\xDC00z";  // a lone low surrogate, then pairs
    for (int i = 0; i < 1500; ++i) {
        text += "<A n=\"\\\">\t\xC3\xA9\xE2\x82\xB9\xF0\x9F\x98\x80\x01\x1F</A>\r\n";
        units += u"\U0001F600\U0001F600\u20B9\"\x01";
    }
    const std::string answers[] = {
        "",
        "a",
        "\xFF",
        std::string("a\0", 2),
        "\xEF\xBB",
        "\xFF\xFE",
        "\xEF\xBB\xBF" + text + "\xFF",  // after a UTF-8 mark nothing is checked
        text,
        "\xFF\xFE" + utf16(units, true) + "\xD8",  // a final odd byte
        utf16(units + u"\xD83D", true),
        "\xFE\xFF" + utf16(units, false),
        "caf\xE9 \x80\x9F\x81" + text,  // ANSI from the start, late, or cut at the end
        text + "\xE9",
        text + "\xF0\x9F\x98"};
    for (const std::string& answer : answers) {
        const std::string expected = Json(decodeText(answer)).dump();
        for (const std::size_t step : {1, 2, 3, 7, 100000}) {
            SCOPED_TRACE(answer.substr(0, 8) + " in steps of " + std::to_string(step));
            Sink sink;
            AnswerEncoder encoder(sink);
            for (std::size_t at = 0; at < answer.size(); at += step)
                encoder.feed(std::string_view(answer).substr(at, step));
            encoder.finish();
            ASSERT_EQ(sink.text, expected);
            for (const std::string& piece : sink.writes) {
                std::string raw;
                ASSERT_TRUE(isValidUtf8(piece) || !isValidUtf8(expected)) << piece;
                ASSERT_EQ(jsonescape::read(piece, raw), piece.size()) << piece;
            }
        }
    }
}

}  // namespace
}  // namespace tsl
