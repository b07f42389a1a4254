// The writer: compact text, members in key order, only the escapes JSON requires.
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

void appendEscaped(std::string& out, const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    const char* p = text.data();
    std::size_t n = text.size();
    while (n > 0) {
        // Runs that need no escape are copied in one piece.
        const std::size_t run = jsonscan::findEscape(p, n);
        out.append(p, run);
        if (run == n) break;
        const auto c = static_cast<unsigned char>(p[run]);
        switch (c) {
            case '"':
                out.append("\\\"", 2);
                break;
            case '\\':
                out.append("\\\\", 2);
                break;
            case '\b':
                out.append("\\b", 2);
                break;
            case '\t':
                out.append("\\t", 2);
                break;
            case '\n':
                out.append("\\n", 2);
                break;
            case '\f':
                out.append("\\f", 2);
                break;
            case '\r':
                out.append("\\r", 2);
                break;
            default: {
                const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                out.append(u, 6);
            }
        }
        p += run + 1;
        n -= run + 1;
    }
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
