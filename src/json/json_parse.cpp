// The reader: recursive descent over bytes, depth at most 64, every fault reported with the
// byte offset where it was found.
#include <clocale>
#include <cstdlib>
#include <utility>

#include "json/json.h"
#include "json/json_scan.h"
#include "json/json_strtod.h"

namespace tsl {

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
        const char c = s_[pos_];
        if (c == '{') return parseObject(depth);
        if (c == '[') return parseArray(depth);
        if (c == '"') return Json(parseString());
        if (literal("true", 4)) return Json(true);
        if (literal("false", 5)) return Json(false);
        if (literal("null", 4)) return Json();
        if (c == '-' || (c >= '0' && c <= '9')) return parseNumber();
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
            // The last occurrence of a key wins; one search places or replaces it.
            auto it = members.lower_bound(key);
            if (it != members.end() && it->first == key) {
                it->second = std::move(value);
            } else {
                members.emplace_hint(it, std::move(key), std::move(value));
            }
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

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    void parseUnicodeEscape(std::string& out) {
        unsigned cp = hex4();
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (n_ - pos_ < 2 || s_[pos_] != '\\' || s_[pos_ + 1] != 'u') fail("lone surrogate");
            pos_ += 2;
            const unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("bad surrogate pair");
            cp = 0x10000 + (cp - 0xD800) * 0x400 + (low - 0xDC00);
        }
        appendUtf8(out, cp);
    }

    std::string parseString() {
        ++pos_;
        if (pos_ >= n_) fail("unterminated string");
        std::string out;
        for (;;) {
            // Everything up to the next quote or backslash is taken as it is, in one piece.
            const std::size_t run = jsonscan::findQuoteOrBackslash(s_ + pos_, n_ - pos_);
            out.append(s_ + pos_, run);
            pos_ += run;
            if (pos_ >= n_) fail("unterminated string");
            const char c = s_[pos_++];
            if (c == '"') return out;
            if (pos_ >= n_) fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    parseUnicodeEscape(out);
                    break;
                default:
                    fail("bad escape");
            }
            if (pos_ >= n_) fail("unterminated string");
        }
    }

    Json parseNumber() {
        const std::size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        while (pos_ < n_) {
            const char c = s_[pos_];
            if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' ||
                  c == '-')) {
                break;
            }
            ++pos_;
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

Json Json::parse(const std::string& text) {
    return JsonParser(text).parseDocument();
}

}  // namespace tsl
