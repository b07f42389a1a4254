#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Word-at-a-time scanning for the JSON reader and writer: both spend their time in long
// runs of plain text (a Tally answer is tens of megabytes of XML inside one string).
namespace tsl::jsonscan {

static_assert(std::endian::native == std::endian::little, "the scanners assume little-endian");

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// High bit set in the bytes equal to b (exact for the lowest such byte, which is all we use).
inline std::uint64_t bytesEqual(std::uint64_t word, unsigned char b) {
    const std::uint64_t x = word ^ (kOnes * b);
    return (x - kOnes) & ~x & kHighs;
}

// High bit set in the bytes below 0x20 (exact for the lowest such byte).
inline std::uint64_t bytesBelowSpace(std::uint64_t word) {
    return (word - kOnes * 0x20) & ~word & kHighs;
}

inline std::uint64_t load(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

#if defined(__SSE2__)
// Sixteen bytes at a time: a mask of the bytes that are '"' or '\\', and of those below 0x20
// when controls is true.
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
#endif

// Index of the first byte in [p, p + n) that is '"' or '\\' (the reader's stops), or n.
inline std::size_t findQuoteOrBackslash(const char* p, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        if (const unsigned m = stops16(p + i, false)) return i + std::countr_zero(m);
    }
#endif
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t w = load(p + i);
        const std::uint64_t hits = bytesEqual(w, '"') | bytesEqual(w, '\\');
        if (hits) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
    }
    for (; i < n; ++i) {
        if (p[i] == '"' || p[i] == '\\') return i;
    }
    return n;
}

// Index of the first byte in [p, p + n) that must be escaped in JSON output, or n.
inline std::size_t findEscape(const char* p, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        if (const unsigned m = stops16(p + i, true)) return i + std::countr_zero(m);
    }
#endif
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t w = load(p + i);
        const std::uint64_t hits = bytesEqual(w, '"') | bytesEqual(w, '\\') | bytesBelowSpace(w);
        if (hits) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
    }
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 || c == '"' || c == '\\') return i;
    }
    return n;
}

}  // namespace tsl::jsonscan
