#include "net/exchange_bounds.h"

#include <algorithm>

namespace tsl {

ExchangeBounds::ExchangeBounds(const HttpLimits& limits) : limits_(limits) {
    if (limits.deadlineMs > 0) {
        deadline_ = Clock::now() + std::chrono::milliseconds(limits.deadlineMs);
    }
}

bool ExchangeBounds::stopSet() const {
    return limits_.stop && limits_.stop->load();
}

bool ExchangeBounds::stopRequested() const {
    if (!stopSet()) return false;
    if (limits_.stopGraceMs == 0) return true;
    const auto now = Clock::now();
    if (!stopSeen_) stopSeen_ = now;
    return now - *stopSeen_ >= std::chrono::milliseconds(limits_.stopGraceMs);
}

bool ExchangeBounds::pastDeadline() const {
    return deadline_ && Clock::now() >= *deadline_;
}

std::optional<std::uint32_t> ExchangeBounds::msLeft() const {
    if (!deadline_) return std::nullopt;
    const auto left = *deadline_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<std::uint32_t>(std::min<long long>(ms, limits_.deadlineMs));
}

bool ExchangeBounds::admits(std::uint64_t announced) const {
    return limits_.maxBodyBytes == 0 || announced <= limits_.maxBodyBytes;
}

void ExchangeBounds::reserveFor(std::string& body, std::uint64_t announced) const {
    std::uint64_t room = std::min(announced, kMaxReserve);
    if (limits_.maxBodyBytes > 0) room = std::min(room, limits_.maxBodyBytes);
    body.reserve(static_cast<std::size_t>(room));
}

bool ExchangeBounds::append(std::string& body, const char* data, std::size_t size) const {
    const std::uint64_t needed = std::uint64_t{body.size()} + size;
    if (limits_.maxBodyBytes > 0 && needed > limits_.maxBodyBytes) return false;
    if (needed > body.capacity()) {
        std::uint64_t grown = std::max<std::uint64_t>(needed, std::uint64_t{body.capacity()} * 2);
        if (limits_.maxBodyBytes > 0) grown = std::min(grown, limits_.maxBodyBytes);
        body.reserve(static_cast<std::size_t>(grown));
    }
    body.append(data, size);
    return true;
}

std::string ExchangeBounds::tooLargeSentence(const std::string& host) const {
    return "The answer from " + host + " is larger than " + sizeText(limits_.maxBodyBytes);
}

std::string ExchangeBounds::deadlineSentence(const std::string& host) const {
    const std::uint64_t seconds = (std::uint64_t{limits_.deadlineMs} + 999) / 1000;
    return "No complete answer from " + host + " within " + std::to_string(seconds) + " s";
}

std::string ExchangeBounds::stoppedSentence(const std::string& host) {
    return "Stopped before " + host + " answered: the connector is closing";
}

BodyTarget::BodyTarget(const ExchangeBounds& bounds, const BodySink* sink)
    : bounds_(bounds), sink_(sink) {}

bool BodyTarget::begin(bool followedRedirect, std::optional<std::uint64_t> announced) {
    dropped_ = followedRedirect;
    received_ = 0;
    kept_.clear();
    if (announced && !bounds_.admits(*announced)) return false;
    if (announced && !sink_ && !dropped_) bounds_.reserveFor(kept_, *announced);
    return true;
}

bool BodyTarget::take(const char* data, std::size_t size) {
    if (!bounds_.admits(received_ + size)) return false;
    received_ += size;
    if (dropped_) return true;
    if (sink_) {
        (*sink_)(std::string_view(data, size));
        return true;
    }
    return bounds_.append(kept_, data, size);
}

bool readWholeBody(const BodySource& source, char* into) {
    const auto size = static_cast<std::size_t>(source.size);
    try {
        for (std::size_t at = 0; at < size;) {
            const std::size_t got = source.read(at, into + at, size - at);
            if (got == 0 || got > size - at) return false;
            at += got;
        }
    } catch (...) {
        return false;
    }
    return true;
}

std::string sizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kKiB = 1024;
    constexpr std::uint64_t kMiB = kKiB * 1024;
    if (bytes >= kMiB) return std::to_string(bytes / kMiB) + " MB";
    if (bytes >= kKiB) return std::to_string(bytes / kKiB) + " KB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace tsl
