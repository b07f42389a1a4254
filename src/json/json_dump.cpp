// The writer: compact text, members in key order, only the escapes JSON requires.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "json/json.h"
#include "json/json_scan.h"

namespace tsl {

namespace {

constexpr double kIntegerLimit = 9e15;

void appendNumber(std::string& out, double x) {
    if (!std::isfinite(x)) {
        out += "null";
        return;
    }
    // to_chars formats as printf does in the "C" locale, whatever the process's locale.
    char buffer[32];
    std::to_chars_result r;
    if (x == std::floor(x) && std::fabs(x) < kIntegerLimit) {
        r = std::to_chars(buffer, buffer + sizeof(buffer), static_cast<long long>(x));
    } else {
        r = std::to_chars(buffer, buffer + sizeof(buffer), x, std::chars_format::general, 17);
    }
    out.append(buffer, static_cast<std::size_t>(r.ptr - buffer));
}

// The letter of the two-character escape of each byte, 0 where \u00XX is written instead.
constexpr std::array<char, 256> makeShortEscapes() {
    std::array<char, 256> table{};
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    return table;
}
constexpr std::array<char, 256> kShortEscape = makeShortEscapes();

// Appends the escape of one byte that needs it. The common escapes go through a table,
// not a branch per kind.
void appendEscape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    if (const char letter = kShortEscape[c]) {
        const char e[2] = {'\\', letter};
        out.append(e, 2);
        return;
    }
    const char e[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    out.append(e, 6);
}

void appendEscaped(std::string& out, const std::string& text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    const char* runStart = p;
    std::size_t i = 0;
    out += '"';
#if defined(__SSE2__)
    // Stops are found sixteen bytes at a time and handled from the block's mask, so a dense
    // text (XML full of quotes) costs no rescans; the runs between stops go in one piece.
    for (; i + 16 <= n; i += 16) {
        for (unsigned m = jsonscan::stops16(p + i, true); m != 0; m &= m - 1) {
            const char* stop = p + i + std::countr_zero(m);
            out.append(runStart, static_cast<std::size_t>(stop - runStart));
            appendEscape(out, static_cast<unsigned char>(*stop));
            runStart = stop + 1;
        }
    }
#endif
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(runStart, static_cast<std::size_t>(p + i - runStart));
        appendEscape(out, c);
        runStart = p + i + 1;
    }
    out.append(runStart, static_cast<std::size_t>(p + n - runStart));
    out += '"';
}

}  // namespace

std::size_t Json::sizeHint() const {
    switch (kind_) {
        case Kind::String:
            return text_.size() + 2;
        case Kind::Array: {
            std::size_t size = 2;
            for (const Json& element : *array_)
                size += element.sizeHint() + 1;
            return size;
        }
        case Kind::Object: {
            std::size_t size = 2;
            for (const auto& [key, value] : *object_)
                size += key.size() + 4 + value.sizeHint();
            return size;
        }
        default:
            return 24;
    }
}

std::string Json::dump() const {
    // One allocation for the whole text in the usual case: the sizes plus room for escapes.
    const std::size_t hint = sizeHint();
    std::string out;
    out.reserve(hint + hint / 16 + 16);
    dumpTo(out);
    return out;
}

void Json::dumpTo(std::string& out) const {
    switch (kind_) {
        case Kind::Null:
            out += "null";
            return;
        case Kind::Bool:
            out += flag_ ? "true" : "false";
            return;
        case Kind::Number:
            appendNumber(out, number_);
            return;
        case Kind::String:
            appendEscaped(out, text_);
            return;
        case Kind::Array: {
            out += '[';
            bool first = true;
            for (const Json& element : *array_) {
                if (!first) out += ',';
                first = false;
                element.dumpTo(out);
            }
            out += ']';
            return;
        }
        case Kind::Object: {
            out += '{';
            bool first = true;
            for (const auto& [key, value] : *object_) {
                if (!first) out += ',';
                first = false;
                appendEscaped(out, key);
                out += ':';
                value.dumpTo(out);
            }
            out += '}';
            return;
        }
    }
}

}  // namespace tsl
