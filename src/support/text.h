#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text conversions at the program's edges. All text inside the program is UTF-8 in byte
// strings; wide strings (UTF-16 on Windows, UTF-32 elsewhere) appear only at platform calls.
// None of these functions fails: faulty input becomes U+FFFD or is passed through.
namespace tsl {

// Wide text to UTF-8; an unpaired surrogate becomes U+FFFD. Embedded zeros are kept.
std::string toUtf8(const std::wstring& wide);

// UTF-8 to wide text; an invalid sequence becomes U+FFFD. Embedded zeros are kept.
std::wstring fromUtf8(const std::string& utf8);

// The text without leading and trailing " \t\r\n" (exactly those four bytes).
std::string trim(const std::string& text);

// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD. Same on every target.
std::string utf16ToUtf8(const char16_t* units, std::size_t count);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above
// U+10FFFF). The empty text is valid.
bool isValidUtf8(std::string_view bytes);

// At most maxBytes of the text, cut where a UTF-8 character begins (never inside one).
std::string utf8Prefix(std::string_view text, std::size_t maxBytes);

// The text with its control characters made visible, for a log line, the console or a window:
// C0 controls and DEL as "\r", "\n", "\t" or "\x1B" (two upper-case hex digits), the C1
// controls U+0080..U+009F as "\u009B" (some terminals take U+009B for CSI). Everything else,
// valid non-ASCII UTF-8 and invalid bytes alike, passes unchanged; a backslash is not doubled.
std::string escapeControls(std::string_view text);

// Legacy 8-bit text in the system's ANSI code page (Windows-1252 off Windows) to UTF-8.
std::string ansiToUtf8(std::string_view bytes);

// UTF-16 bytes to UTF-8 as decodeText converts them; a final odd byte is dropped.
std::string utf16BytesToUtf8(std::string_view bytes, bool littleEndian);

// How much of bytes is well-formed UTF-8 by isValidUtf8's rule: the first `valid` bytes are.
// When `open`, the rest is the beginning of a character that more bytes could complete.
struct Utf8Scan {
    std::size_t valid = 0;
    bool open = false;
};
Utf8Scan scanUtf8(std::string_view bytes);

// Where ANSI text may be cut so that both parts convert as the whole does: just after its last
// byte below 0x40, which no ANSI code page uses inside a character (the double-byte ones go on
// with 0x40 and above); 0 when there is none.
std::size_t ansiCut(std::string_view bytes);

// The encodings that an answer's first bytes announce, and how many bytes the mark takes.
// Four bytes decide (fewer only when that is all there is): FF FE, FE FF, EF BB BF, or bytes 1
// and 3 zero and byte 0 not (UTF-16LE without a mark); None is UTF-8 or, if invalid, ANSI.
enum class TextMark { Utf16Le, Utf16Be, Utf8Bom, Utf16LeNoBom, None };
TextMark textMark(std::string_view head);
std::size_t textMarkSize(TextMark mark);

// The body of an HTTP answer of unknown encoding to UTF-8, by byte-order mark: UTF-16LE/BE
// with a mark, UTF-8 with a mark (removed), UTF-16LE without a mark (bytes 1 and 3 zero, byte 0
// not), invalid UTF-8 as ANSI, anything else unchanged. The rvalue overload moves the bytes
// through when they need no conversion, so a large UTF-8 answer is never copied.
std::string decodeText(const std::string& bytes);
std::string decodeText(std::string&& bytes);

}  // namespace tsl
