#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace tsl::bench {

// XML-like text as Tally answers it: mostly printable ASCII, some CR/LF/tab, quotes and
// backslashes, about 1% multi-byte UTF-8.
inline std::string tallyLikeText(std::size_t bytes, std::uint32_t seed = 42) {
    std::mt19937 rng(seed);
    static const char kWords[] = "<LEDGER NAME=\"Sundry Debtors\"><PARENT>Current Assets</PARENT>";
    std::string out;
    out.reserve(bytes + 32);  // the last piece may overshoot by up to 16 bytes
    while (out.size() < bytes) {
        const std::uint32_t r = rng() % 1000;
        if (r < 10) {
            out += "\xE2\x82\xB9";  // rupee sign
        } else if (r < 25) {
            out += "\r\n\t";
        } else if (r < 30) {
            out += "C:\\Tally\\Data";
        } else {
            const std::size_t at = rng() % (sizeof(kWords) - 17);
            out.append(kWords + at, 16);
        }
    }
    out.resize(bytes);
    return out;
}

}  // namespace tsl::bench
