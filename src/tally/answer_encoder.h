#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tsl {

// Where an encoded answer goes. What it was given can be taken back once in a while: the rare
// answer that proves not to be UTF-8 is written again from its start.
class AnswerSink {
  public:
    virtual ~AnswerSink() = default;
    virtual void write(std::string_view text) = 0;
    // Empties the sink, then hands what it held to replay, in order and in pieces of any size;
    // what replay writes meanwhile goes into the emptied sink.
    virtual void restart(const std::function<void(std::string_view)>& replay) = 0;
};

// Turns a Tally answer, fed in pieces of any size as they arrive, into the JSON string, quotes
// included, that dumping decodeText(the whole answer) gives, and writes it to the sink as it
// goes. No write splits a character or an escape. Memory stays within a few times the largest
// piece fed, whatever the answer's size.
// The first four bytes decide the encoding (decodeText's marks); until then they are held. An
// answer without a mark is taken for UTF-8 until a byte proves it is not; it is then ANSI from
// its first byte: the sink is restarted, and what it held is read back (the escaping is
// undone) and written again converted.
// Exceptions of the sink pass through; the encoder is then not to be used again.
class AnswerEncoder {
  public:
    explicit AnswerEncoder(AnswerSink& sink);  // kept by reference
    void feed(std::string_view bytes);
    // The bytes still held and the closing quote; once, after the last feed.
    void finish();
    // The length of the decoded answer (UTF-8) written so far.
    std::uint64_t decodedBytes() const { return decodedBytes_; }

  private:
    enum class Mode { Unknown, Utf8, Utf8Unchecked, Utf16Le, Utf16Be, Ansi };
    void decide();
    std::size_t consume(std::string_view bytes, bool last);
    std::size_t consumeUtf16(std::string_view bytes, bool last);
    void writeText(std::string_view utf8);
    void replayAsAnsi();

    AnswerSink& sink_;
    Mode mode_ = Mode::Unknown;
    std::string held_;     // bytes not consumed yet: the head, an unfinished character
    std::string escaped_;  // the escaped text of one piece
    std::uint64_t decodedBytes_ = 0;
};

}  // namespace tsl
