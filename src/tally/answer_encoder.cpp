#include "tally/answer_encoder.h"

#include <algorithm>

#include "json/json_escape.h"
#include "support/text.h"

namespace tsl {

namespace {

constexpr std::size_t kPiece = 16 * 1024;  // text escaped and written at a time
constexpr std::size_t kJoin = 4096;        // bytes of a new piece joined to the held ones
constexpr std::size_t kAnsiHold = 4096;    // ANSI bytes held at most while looking for a cut
constexpr std::size_t kHead = 4;           // bytes that decide the encoding
constexpr std::size_t kRedo = std::string_view::npos;  // consume: the answer is not UTF-8

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The start of the UTF-8 character at `at` (< text.size()), a cut that splits none; invalid
// bytes move it back at most three bytes.
std::size_t characterCut(std::string_view text, std::size_t at) {
    std::size_t cut = at;
    while (cut + 3 > at && cut > 0 && isContinuation(text[cut]))
        --cut;
    return isContinuation(text[cut]) ? at : cut;
}

bool isHighSurrogate(std::string_view bytes, std::size_t at, bool littleEndian) {
    const auto high = static_cast<unsigned char>(bytes[littleEndian ? at + 1 : at]);
    return high >= 0xD8 && high <= 0xDB;
}

}  // namespace

AnswerEncoder::AnswerEncoder(AnswerSink& sink)
    : sink_(sink), escaped_(jsonescape::room(kPiece), '\0') {}

void AnswerEncoder::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        if (held_.empty() && mode_ != Mode::Unknown) {
            const std::size_t used = consume(bytes, false);
            if (used == kRedo) {
                replayAsAnsi();
                continue;
            }
            held_.assign(bytes.substr(used));
            return;
        }
        const std::size_t take = std::min(bytes.size(), kJoin);
        held_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (mode_ == Mode::Unknown) {
            if (held_.size() < kHead) continue;
            decide();
        }
        const std::size_t used = consume(held_, false);
        if (used == kRedo) {
            replayAsAnsi();
        } else {
            held_.erase(0, used);
        }
    }
}

void AnswerEncoder::finish() {
    if (mode_ == Mode::Unknown) decide();
    if (consume(held_, true) == kRedo) {
        replayAsAnsi();
        consume(held_, true);
    }
    held_.clear();
    sink_.write("\"");
}

void AnswerEncoder::decide() {
    const TextMark mark = textMark(held_);
    switch (mark) {
        case TextMark::Utf16Le:
        case TextMark::Utf16LeNoBom:
            mode_ = Mode::Utf16Le;
            break;
        case TextMark::Utf16Be:
            mode_ = Mode::Utf16Be;
            break;
        case TextMark::Utf8Bom:
            mode_ = Mode::Utf8Unchecked;  // as decodeText: after the mark, bytes pass as they are
            break;
        case TextMark::None:
            mode_ = Mode::Utf8;
            break;
    }
    held_.erase(0, textMarkSize(mark));
    sink_.write("\"");
}

// Writes what can be written of bytes now and returns how much that was; the rest is to be
// given again with what follows. `last`: nothing follows.
std::size_t AnswerEncoder::consume(std::string_view bytes, bool last) {
    switch (mode_) {
        case Mode::Utf8: {
            const Utf8Scan scan = scanUtf8(bytes);
            if (scan.valid < bytes.size() && (last || !scan.open)) return kRedo;
            writeText(bytes.substr(0, scan.valid));
            return scan.valid;
        }
        case Mode::Utf8Unchecked: {
            std::size_t end = bytes.size();
            if (!last && end > 0) end = characterCut(bytes, end - 1);
            writeText(bytes.substr(0, end));
            return end;
        }
        case Mode::Ansi: {
            std::size_t end = bytes.size();
            const std::size_t cut = ansiCut(bytes);
            if (!last && (cut > 0 || end < kAnsiHold)) end = cut;
            writeText(ansiToUtf8(bytes.substr(0, end)));
            return end;
        }
        default:
            return consumeUtf16(bytes, last);
    }
}

// Converted a piece at a time, each ending on a whole surrogate pair; a high surrogate at the
// end waits for its partner unless nothing follows.
std::size_t AnswerEncoder::consumeUtf16(std::string_view bytes, bool last) {
    const bool littleEndian = mode_ == Mode::Utf16Le;
    std::size_t end = bytes.size() & ~std::size_t{1};
    if (!last && end >= 2 && isHighSurrogate(bytes, end - 2, littleEndian)) end -= 2;
    for (std::size_t at = 0; at < end;) {
        std::size_t n = std::min(kPiece, end - at);
        if (at + n < end && isHighSurrogate(bytes, at + n - 2, littleEndian)) n -= 2;
        writeText(utf16BytesToUtf8(bytes.substr(at, n), littleEndian));
        at += n;
    }
    return end;  // at the end, finish drops a final odd byte
}

void AnswerEncoder::writeText(std::string_view utf8) {
    decodedBytes_ += utf8.size();
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t n = std::min(kPiece, utf8.size() - at);
        if (at + n < utf8.size()) n = characterCut(utf8, at + n) - at;
        const char* end = jsonescape::write(escaped_.data(), utf8.data() + at, n);
        sink_.write(
            std::string_view(escaped_.data(), static_cast<std::size_t>(end - escaped_.data())));
        at += n;
    }
}

// The sink's text so far is the opening quote and escaped UTF-8 that stood for the answer's
// bytes unchanged: undone, it gives them back, to be written again as ANSI ahead of the bytes
// still held.
void AnswerEncoder::replayAsAnsi() {
    mode_ = Mode::Ansi;
    decodedBytes_ = 0;
    const std::string rest = std::move(held_);
    held_.clear();
    bool quoted = false;
    std::string escaped;
    std::string raw;
    sink_.restart([&](std::string_view piece) {
        if (!quoted) {
            sink_.write("\"");
            piece.remove_prefix(std::min<std::size_t>(piece.size(), 1));
            quoted = true;
        }
        escaped.append(piece);
        raw.clear();
        escaped.erase(0, jsonescape::read(escaped, raw));
        held_ += raw;
        held_.erase(0, consume(held_, false));
    });
    if (!quoted) sink_.write("\"");
    held_ += rest;
}

}  // namespace tsl
