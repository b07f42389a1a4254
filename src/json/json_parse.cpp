// The reader: recursive descent over bytes, depth at most 64, every fault reported with the
// byte offset where it was found.
#include "json/json.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "json/json_scan.h"
#include "json/json_strtod.h"

namespace tsl {

namespace {

class JsonParser {
  public:
    explicit JsonParser(const std::string& text) : s_(text.data()), n_(text.size()) {}

    Json parseDocument() {
        Json value = parseValue(0);
        skipWhitespace();
        if (pos_ != n_) fail("trailing characters");
        return value;
    }

  private:
    static constexpr int kMaxDepth = 64;

    [[noreturn]] void fail(const char* reason) const {
        throw JsonError("Invalid JSON at offset " + std::to_string(pos_) + ": " + reason);
    }

    void skipWhitespace() {
        while (pos_ < n_) {
            const char c = s_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
            ++pos_;
        }
    }

    bool literal(const char* word, std::size_t length) {
        if (n_ - pos_ < length || std::memcmp(s_ + pos_, word, length) != 0) return false;
        pos_ += length;
        return true;
    }

    Json parseValue(int depth) {
        if (depth > kMaxDepth) fail("nested too deeply");
        skipWhitespace();
        if (pos_ >= n_) fail("unexpected end");
        // A literal can only match at its first letter, so one switch picks the one to compare.
        switch (s_[pos_]) {
            case '{':
                return parseObject(depth);
            case '[':
                return parseArray(depth);
            case '"':
                return Json(parseString());
            case 't':
                if (literal("true", 4)) return Json(true);
                break;
            case 'f':
                if (literal("false", 5)) return Json(false);
                break;
            case 'n':
                if (literal("null", 4)) return Json();
                break;
            case '-':
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9':
                return parseNumber();
            default:
                break;
        }
        fail("unexpected character");
    }

    Json parseArray(int depth) {
        ++pos_;
        Json::Array elements;
        skipWhitespace();
        if (pos_ < n_ && s_[pos_] == ']') {
            ++pos_;
            return Json(std::move(elements));
        }
        for (;;) {
            elements.push_back(parseValue(depth + 1));
            skipWhitespace();
            if (pos_ >= n_) fail("expected ',' or ']'");
            if (s_[pos_] != ',') break;
            ++pos_;
        }
        if (s_[pos_] != ']') fail("expected ',' or ']'");
        ++pos_;
        return Json(std::move(elements));
    }

    Json parseObject(int depth) {
        ++pos_;
        Json::Object members;
        skipWhitespace();
        if (pos_ < n_ && s_[pos_] == '}') {
            ++pos_;
            return Json(std::move(members));
        }
        for (;;) {
            skipWhitespace();
            if (pos_ >= n_ || s_[pos_] != '"') fail("expected key");
            std::string key = parseString();
            skipWhitespace();
            if (pos_ >= n_ || s_[pos_] != ':') fail("expected ':'");
            ++pos_;
            Json value = parseValue(depth + 1);
            // The last occurrence of a key wins. Answers usually list their members in order,
            // so the end is tried as the hint first: one comparison places a key after the
            // last one, and any other key gets one search, which also finds a repeated key
            // (whose value is then replaced; try_emplace leaves the arguments untouched).
            const std::size_t before = members.size();
            const auto it = members.try_emplace(members.end(), std::move(key), std::move(value));
            if (members.size() == before) it->second = std::move(value);
            skipWhitespace();
            if (pos_ >= n_) fail("expected ',' or '}'");
            if (s_[pos_] != ',') break;
            ++pos_;
        }
        if (s_[pos_] != '}') fail("expected ',' or '}'");
        ++pos_;
        return Json(std::move(members));
    }

    unsigned hexDigit() {
        if (pos_ >= n_) fail("bad \\u escape");
        const char c = s_[pos_++];
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        fail("bad \\u escape");
    }

    unsigned hex4() {
        if (n_ - pos_ < 4) fail("bad \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 4) | hexDigit();
        return v;
    }

    static char* writeUtf8(char* d, unsigned cp) {
        if (cp < 0x80) {
            *d++ = static_cast<char>(cp);
        } else if (cp < 0x800) {
            *d++ = static_cast<char>(0xC0 | (cp >> 6));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *d++ = static_cast<char>(0xE0 | (cp >> 12));
            *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *d++ = static_cast<char>(0xF0 | (cp >> 18));
            *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
        return d;
    }

    char* unicodeEscape(char* d) {
        unsigned cp = hex4();
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (n_ - pos_ < 2 || s_[pos_] != '\\' || s_[pos_ + 1] != 'u') fail("lone surrogate");
            pos_ += 2;
            const unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("bad surrogate pair");
            cp = 0x10000 + (cp - 0xD800) * 0x400 + (low - 0xDC00);
        }
        return writeUtf8(d, cp);
    }

    // The byte each one-letter escape stands for; 0 for the other letters.
    static constexpr std::array<char, 256> kUnescape = [] {
        std::array<char, 256> table{};
        table['"'] = '"';
        table['\\'] = '\\';
        table['/'] = '/';
        table['b'] = '\b';
        table['f'] = '\f';
        table['n'] = '\n';
        table['r'] = '\r';
        table['t'] = '\t';
        return table;
    }();

    // Decodes the escape whose letter is at the position; returns the end of what it wrote.
    // An escape never writes more bytes than it reads.
    char* escape(char* d) {
        const char letter = s_[pos_++];
        if (const char c = kUnescape[static_cast<unsigned char>(letter)]) {
            *d++ = c;
            return d;
        }
        if (letter == 'u') return unicodeEscape(d);
        fail("bad escape");
    }

    // An end for the text of the string that starts at the position, never before its closing
    // quote: the first quote that does not follow a backslash (every quote inside the string
    // does). In a document that parses it is the closing quote or the next string's opening one.
    std::size_t stringBound() const {
        std::size_t i = pos_;
        unsigned afterBackslash = 0;  // the byte before the position is the opening quote
        for (; n_ - i >= jsonscan::kBlock; i += jsonscan::kBlock) {
            const unsigned quotes = jsonscan::equal16(s_ + i, '"');
            const unsigned backslashes = jsonscan::equal16(s_ + i, '\\');
            if (const unsigned free = quotes & ~((backslashes << 1) | afterBackslash)) {
                return i + static_cast<std::size_t>(std::countr_zero(free)) - pos_;
            }
            afterBackslash = backslashes >> 15;
        }
        for (; i < n_; ++i) {
            if (s_[i] == '"' && s_[i - 1] != '\\') break;
        }
        return i - pos_;
    }

    // Copies the bytes up to the next quote or backslash to d in whole blocks. The text has a
    // block of room beyond its bound, so a block that crosses the stop still fits. Works on
    // locals: stores through d (a char pointer) could otherwise alias the parser's fields.
    char* copyPlainRun(char* d) {
        const char* const s = s_;
        const std::size_t n = n_;
        std::size_t pos = pos_;
        for (; n - pos >= jsonscan::kBlock; pos += jsonscan::kBlock, d += jsonscan::kBlock) {
            const unsigned m = jsonscan::stops16(s + pos, false);
            jsonscan::copy16(d, s + pos);
            if (m != 0) {
                const auto run = static_cast<std::size_t>(std::countr_zero(m));
                pos_ = pos + run;
                return d + run;
            }
        }
        while (pos < n && s[pos] != '"' && s[pos] != '\\')
            *d++ = s[pos++];
        pos_ = pos;
        return d;
    }

    // Decodes the text up to and past the closing quote into d; returns the end of the text.
    char* decodeString(char* d) {
        for (;;) {
            d = copyPlainRun(d);
            if (pos_ >= n_) fail("unterminated string");
            if (s_[pos_++] == '"') return d;
            if (pos_ >= n_) fail("unterminated escape");
            d = escape(d);
            if (pos_ >= n_) fail("unterminated string");
        }
    }

    std::string parseString() {
        ++pos_;
        if (pos_ >= n_) fail("unterminated string");
        // Written in place into room for the bound and one block more (decoding never passes
        // the bound, and no escape writes more bytes than it reads), then cut to length. Keys
        // and other short texts go through the stack, so that they stay in the string itself.
        const std::size_t room = stringBound() + jsonscan::kBlock;
        char local[64];
        if (room <= sizeof(local)) return std::string(local, decodeString(local));
        std::string out(room, '\0');
        out.resize(static_cast<std::size_t>(decodeString(out.data()) - out.data()));
        // The bound may lie far beyond a string that ends in an escaped backslash (up to the
        // next string); such a text does not keep the unused room.
        if (out.capacity() / 2 > out.size() + jsonscan::kBlock) out.shrink_to_fit();
        return out;
    }

    Json parseNumber() {
        const std::size_t start = pos_;
        const bool negative = s_[pos_] == '-';
        if (negative) ++pos_;
        const std::size_t first = pos_;
        bool digitsOnly = true;
        while (pos_ < n_) {
            const char c = s_[pos_];
            if (c < '0' || c > '9') {
                if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') break;
                digitsOnly = false;
            }
            ++pos_;
        }
        // Up to 15 digits are exact in a double, so summing them gives what strtod would,
        // without the copy and the locale machinery.
        const std::size_t digits = pos_ - first;
        if (digitsOnly && digits > 0 && digits <= 15) {
            std::int64_t whole = 0;
            for (std::size_t i = first; i < pos_; ++i)
                whole = whole * 10 + (s_[i] - '0');
            const auto value = static_cast<double>(whole);
            return Json(negative ? -value : value);
        }
        const std::string run(s_ + start, pos_ - start);
        std::size_t consumed = 0;
        const double value = jsonStrtod(run, consumed);
        if (consumed == 0 || consumed != run.size()) fail("bad number");
        return Json(value);
    }

    const char* s_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

}  // namespace

Json Json::parse(const std::string& text) {
    return JsonParser(text).parseDocument();
}

}  // namespace tsl
