// The writer: compact text, members in key order, only the escapes JSON requires.
#include "json/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "json/json_escape.h"
#include "json/json_scan.h"

namespace tsl {

namespace {

constexpr double kIntegerLimit = 9e15;

// Text is escaped in chunks of this size into a buffer on the stack that fits the worst case
// (every byte written as \u00XX) and is appended from the cache in one piece.
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kChunkRoom = jsonescape::room(kChunk);
constexpr std::size_t kShortText = 64;

// Writes a finite number into buffer and returns its length; 0 for NaN and the infinities.
std::size_t formatNumber(char (&buffer)[32], double x) {
    if (!std::isfinite(x)) return 0;
    // to_chars formats as printf does in the "C" locale, whatever the process's locale.
    std::to_chars_result r;
    if (x == std::floor(x) && std::fabs(x) < kIntegerLimit) {
        r = std::to_chars(buffer, buffer + sizeof(buffer), static_cast<long long>(x));
    } else {
        r = std::to_chars(buffer, buffer + sizeof(buffer), x, std::chars_format::general, 17);
    }
    return static_cast<std::size_t>(r.ptr - buffer);
}

std::size_t numberSize(double x) {
    if (x == std::floor(x) && std::fabs(x) < kIntegerLimit) {
        // The common case (counts, statuses, seconds) without formatting it twice.
        auto v = static_cast<long long>(x);
        std::size_t size = v < 0 ? 2 : 1;
        for (v = v < 0 ? -v : v; v >= 10; v /= 10)
            ++size;
        return size;
    }
    char buffer[32];
    const std::size_t n = formatNumber(buffer, x);
    return n == 0 ? 4 : n;
}

void appendNumber(std::string& out, double x) {
    char buffer[32];
    const std::size_t n = formatNumber(buffer, x);
    if (n == 0) {
        out += "null";
    } else {
        out.append(buffer, n);
    }
}

// Never inlined: its 24 KB buffer must not become part of every frame of the recursive writer.
[[gnu::noinline]] void appendLongEscaped(std::string& out, const std::string& text) {
    char buffer[kChunkRoom];
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
        const std::size_t k = std::min(kChunk, text.size() - at);
        const char* end = jsonescape::write(buffer, text.data() + at, k);
        out.append(buffer, static_cast<std::size_t>(end - buffer));
    }
}

void appendEscaped(std::string& out, const std::string& text) {
    if (text.size() >= kShortText) {
        out += '"';
        appendLongEscaped(out, text);
        out += '"';
        return;
    }
    // Keys and names: one pass, one append.
    char buffer[6 * kShortText + 2];
    char* d = buffer;
    *d++ = '"';
    d = jsonescape::writeBytes(d, text.data(), text.size());
    *d++ = '"';
    out.append(buffer, static_cast<std::size_t>(d - buffer));
}

}  // namespace

std::size_t Json::dumpSize() const {
    switch (kind_) {
        case Kind::Null:
            return 4;
        case Kind::Bool:
            return flag_ ? 4 : 5;
        case Kind::Number:
            return numberSize(number_);
        case Kind::String:
            return jsonscan::escapedSize(text_.data(), text_.size()) + 2;
        case Kind::Array: {
            std::size_t size = 2 + (array_->empty() ? 0 : array_->size() - 1);
            for (const Json& element : *array_)
                size += element.dumpSize();
            return size;
        }
        case Kind::Object: {
            std::size_t size = 2 + (object_->empty() ? 0 : object_->size() - 1);
            for (const auto& [key, value] : *object_)
                size += jsonscan::escapedSize(key.data(), key.size()) + 3 + value.dumpSize();
            return size;
        }
    }
    return 0;
}

std::string Json::dump() const {
    // Sized exactly first: a 64 MB answer then costs one allocation of its final size, so
    // the peak is the value plus its text, never a doubled buffer.
    std::string out;
    out.reserve(dumpSize());
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
