#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "net/http_client.h"

namespace tsl {

// The limits of one exchange (HttpLimits) as a transport checks them along the way, and the
// sentences of their failures (each then gets ": " + the platform's text).
class ExchangeBounds {
  public:
    using Clock = std::chrono::steady_clock;

    // The deadline counts from here. The stop flag is read, not kept beyond the limits' own.
    explicit ExchangeBounds(const HttpLimits& limits);

    // The stop as an exchange under way sees it: set, and its grace (if any) spent since this
    // object first saw it.
    bool stopRequested() const;
    // The stop as it stands, for an exchange (or a hop of one) not begun yet: no grace.
    bool stopSet() const;
    bool pastDeadline() const;
    // Whole milliseconds left, rounded up so that waiting them always reaches the deadline;
    // no value without a deadline, 0 once it has passed.
    std::optional<std::uint32_t> msLeft() const;

    // False when an announced body length is already past the limit.
    bool admits(std::uint64_t announced) const;
    // Room for an announced body: never past the limit, nor past kMaxReserve (a lying header
    // cannot make us allocate gigabytes; a larger body still arrives, growing as it comes).
    void reserveFor(std::string& body, std::uint64_t announced) const;
    // Appends the bytes unless the body would grow past the limit (false, body unchanged).
    // Capacity grows geometrically but never past the limit.
    bool append(std::string& body, const char* data, std::size_t size) const;

    std::string tooLargeSentence(const std::string& host) const;
    std::string deadlineSentence(const std::string& host) const;
    static std::string stoppedSentence(const std::string& host);

    static constexpr std::uint64_t kMaxReserve = std::uint64_t{256} << 20;

  private:
    HttpLimits limits_;
    std::optional<Clock::time_point> deadline_;
    mutable std::optional<Clock::time_point> stopSeen_;
};

// Where the answer's body goes while a transport reads it, within the bounds' limit: to the
// caller's sink, or (without one) kept whole for the response. A redirect that will be followed
// has its body counted, not kept. One per exchange, begun again for each answer.
class BodyTarget {
  public:
    BodyTarget(const ExchangeBounds& bounds, const BodySink* sink);  // both kept by reference
    // The next answer's body begins. False when its announced length is already too large.
    bool begin(bool followedRedirect, std::optional<std::uint64_t> announced);
    // False when the body would grow past the limit. The sink's exceptions pass.
    bool take(const char* data, std::size_t size);
    std::uint64_t received() const { return received_; }
    std::string takeKept() { return std::move(kept_); }

  private:
    const ExchangeBounds& bounds_;
    const BodySink* sink_;
    bool dropped_ = false;
    std::uint64_t received_ = 0;
    std::string kept_;
};

// A body small enough to go out with the request's head in one send (both transports).
constexpr std::uint64_t kBodyWithHead = 64 * 1024;
// The whole of a small body into `into` (source.size bytes); false when the source does not
// give it (it then fails as the body goes out, the way it would have anyway).
bool readWholeBody(const BodySource& source, char* into);

// A byte count for a sentence: whole MB (MiB) from 1 MiB on, else whole KB, else bytes.
std::string sizeText(std::uint64_t bytes);

}  // namespace tsl
