#include "json/json_escape.h"

namespace tsl::jsonescape {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::size_t read(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t stop = text.find('\\', i);
        out.append(text.substr(i, stop - i));
        if (stop == std::string_view::npos) return text.size();
        if (stop + 1 == text.size()) return stop;
        const char letter = text[stop + 1];
        if (letter != 'u') {
            static constexpr std::string_view kLetters = "\"\\btnfr";
            static constexpr std::string_view kBytes = "\"\\\b\t\n\f\r";
            const std::size_t which = kLetters.find(letter);
            out += which == std::string_view::npos ? letter : kBytes[which];
            i = stop + 2;
            continue;
        }
        if (text.size() - stop < 6) return stop;
        const int high = hexValue(text[stop + 4]);
        const int low = hexValue(text[stop + 5]);
        out += static_cast<char>((high < 0 || low < 0) ? 0 : high * 16 + low);
        i = stop + 6;
    }
    return i;
}

}  // namespace tsl::jsonescape
