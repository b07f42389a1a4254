#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "json/json_scan.h"

// JSON string escaping, the one copy of its rules, for the writer and for text streamed
// straight into a JSON document: '"' and '\' get a backslash, \b \t \n \f \r their letters,
// every other byte below 0x20 becomes \u00xx (lower-case hex); every other byte, valid UTF-8
// or not, is copied.
namespace tsl::jsonescape {

// The room write() needs at its destination for n bytes of text: the worst case (every byte
// \u00xx) and the slack of its whole-span copies.
constexpr std::size_t room(std::size_t n) {
    return 6 * n + 4 * jsonscan::kBlock;
}

// The escape of each byte that needs one (size 0 for the others), padded so that it can be
// stored with one fixed-size copy.
struct alignas(8) Escape {
    char text[6];
    unsigned char size;
};

inline constexpr std::array<Escape, 256> kEscapes = [] {
    constexpr char kHex[] = "0123456789abcdef";
    std::array<Escape, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = {{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]}, 6};
    for (const auto& [c, letter] : {std::pair{'"', '"'},
                                    {'\\', '\\'},
                                    {'\b', 'b'},
                                    {'\t', 't'},
                                    {'\n', 'n'},
                                    {'\f', 'f'},
                                    {'\r', 'r'}})
        table[static_cast<unsigned char>(c)] = {{'\\', letter}, 2};
    return table;
}();

// Writes the escaped form of p[0, n) at d byte by byte, exactly; returns the end. For short
// text (keys, names), where setting up the span loop costs more than it saves.
inline char* writeBytes(char* d, const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const Escape& e = kEscapes[static_cast<unsigned char>(p[i])];
        if (e.size == 0) {
            *d++ = p[i];
        } else {
            std::memcpy(d, e.text, e.size);
            d += e.size;
        }
    }
    return d;
}

// Writes the escaped form of p[0, n) at d, which has room(n) bytes; returns the end of what
// was written. Spans of 32 bytes are handled from one mask, so a span with stops costs one
// mispredicted branch, not one per stop. Copies are whole spans (escapes six bytes) that may
// run past what is kept; the excess is overwritten by what follows. Spans are read only while
// a second one follows, as a copy that starts after the last stop reads into the next span.
inline char* write(char* d, const char* p, std::size_t n) {
    constexpr std::size_t kSpan = 2 * jsonscan::kBlock;
    std::size_t i = 0;
    for (; n - i >= 2 * kSpan; i += kSpan) {
        std::size_t from = i;
        const unsigned stops = jsonscan::stops16(p + i, true) |
                               (jsonscan::stops16(p + i + jsonscan::kBlock, true) << 16);
        for (unsigned m = stops; m != 0; m &= m - 1) {
            const std::size_t stop = i + static_cast<std::size_t>(std::countr_zero(m));
            jsonscan::copy16(d, p + from);
            jsonscan::copy16(d + jsonscan::kBlock, p + from + jsonscan::kBlock);
            d += stop - from;
            const Escape& e = kEscapes[static_cast<unsigned char>(p[stop])];
            std::memcpy(d, e.text, sizeof(e.text));
            d += e.size;
            from = stop + 1;
        }
        jsonscan::copy16(d, p + from);
        jsonscan::copy16(d + jsonscan::kBlock, p + from + jsonscan::kBlock);
        d += i + kSpan - from;
    }
    return writeBytes(d, p + i, n - i);
}

// The inverse of write, for text it wrote: appends the bytes that `text` stands for to out
// and returns how much of text it read, which is all of it unless text ends inside an escape.
std::size_t read(std::string_view text, std::string& out);

}  // namespace tsl::jsonescape
