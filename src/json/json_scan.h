#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

// Both programs are built for x86-64, where SSE2 is always there.
#if !defined(__SSE2__)
#error "the JSON block scanner needs SSE2"
#endif
#include <emmintrin.h>

// Block scanning for the JSON reader and writer: both spend their time in long runs of plain
// text (a Tally answer is tens of megabytes of XML inside one string), so they look at sixteen
// bytes at a time and copy whole blocks until a byte needs attention.
namespace tsl::jsonscan {

inline constexpr std::size_t kBlock = 16;

// Bit i is set when p[i] is '"' or '\\', or (with controls) below 0x20.
inline unsigned stops16(const char* p, bool controls) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    if (controls) {
        // Unsigned v <= 0x1F, as max(v, 0x1F) == 0x1F.
        const __m128i limit = _mm_set1_epi8(0x1F);
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_max_epu8(v, limit), limit));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Bit i is set when p[i] is b.
inline unsigned equal16(const char* p, char b) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(b))));
}

// Copies one block; the destination must have room for all sixteen bytes.
inline void copy16(char* to, const char* from) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
}

// How many bytes the writer adds for each byte: 1 for a two-character escape, 5 for \u00XX.
inline constexpr std::array<unsigned char, 256> kEscapeExtra = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 5;
    for (int c : {'"', '\\', '\b', '\t', '\n', '\f', '\r'})
        table[c] = 1;
    return table;
}();

// The length of text once escaped for a JSON string (without the quotes).
inline std::size_t escapedSize(const char* p, std::size_t n) {
    std::size_t size = n;
    std::size_t i = 0;
    // Per byte lane: 1 for each stop, 4 more for a control byte without a two-character escape
    // (all but \b \t \n \f \r: 0x08 to 0x0D less 0x0B), which only blocks holding a control
    // byte look for. No branch per stop; lanes are summed every 48 blocks, before one can
    // pass 255.
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi8(0x1F);
    while (n - i >= kBlock) {
        __m128i lanes = zero;
        const std::size_t blocks = std::min<std::size_t>((n - i) / kBlock, 48);
        for (const std::size_t end = i + blocks * kBlock; i < end; i += kBlock) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, limit), limit);
            const __m128i quote = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                               _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
            lanes = _mm_sub_epi8(lanes, _mm_or_si128(quote, control));  // a set lane is -1
            if (_mm_movemask_epi8(control) == 0) continue;
            const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(8));
            const __m128i shortRange =
                _mm_cmpeq_epi8(_mm_max_epu8(t, _mm_set1_epi8(5)), _mm_set1_epi8(5));
            const __m128i shortEscape =
                _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0B)), shortRange);
            const __m128i longEscape = _mm_andnot_si128(shortEscape, control);
            lanes = _mm_add_epi8(lanes, _mm_and_si128(longEscape, _mm_set1_epi8(4)));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        size += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    }
    for (; i < n; ++i)
        size += kEscapeExtra[static_cast<unsigned char>(p[i])];
    return size;
}

}  // namespace tsl::jsonscan
