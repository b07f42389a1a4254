#include "api/report_body.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

namespace tsl {

namespace {

constexpr char kEmptyBody[] = "\"body\":\"\"";

Json nullIfEmpty(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

}  // namespace

bool isAnswerFileName(const std::string& name) {
    const std::string suffix = ".jstr";
    if (name.size() <= suffix.size() || name.size() > 24 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    return std::all_of(name.begin(), name.end() - suffix.size(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool answerFileOf(const Json& item, std::string& name, std::uint64_t& bytes) {
    name = item.get(ReportBody::kBodyFile).stringOr("");
    const std::string length = item.get(ReportBody::kBodyBytes).stringOr("");
    const auto [end, fault] = std::from_chars(length.data(), length.data() + length.size(), bytes);
    // The shortest answer is "" with its quotes.
    return isAnswerFileName(name) && fault == std::errc() && end == length.data() + length.size() &&
           bytes >= 2;
}

ReportBody::ReportBody(const Json& results, const std::string& error, std::filesystem::path answers)
    : answers_(std::move(answers)) {
    // The envelope is dumped by the one JSON writer, with an empty list and empty bodies where
    // the files go: "results" is its last member, so the list's items go before its last "]}".
    Json envelope;
    envelope.set("error", nullIfEmpty(error)).set("results", Json(Json::Array{}));
    std::string head = envelope.dump();
    const std::string tail = head.substr(head.size() - 2);
    head.resize(head.size() - 2);
    add(std::move(head));
    bool first = true;
    for (const Json& item : results.items()) {
        if (!first) add(",");
        first = false;
        if (item.get(kBodyFile).isNull()) {
            add(item.dump());
            continue;
        }
        std::string name;
        std::uint64_t bytes = 0;
        if (!answerFileOf(item, name, bytes)) {
            throw std::runtime_error("A kept answer is named in a way this program never does");
        }
        // The item as today's writer makes it, its body left empty: split at that body.
        Json reported;
        for (const char* key : {"error", "httpStatus", "ok", "ref"})
            reported.set(key, item.get(key));
        reported.set("body", Json(""));
        std::string text = reported.dump();
        // Inside a string every quote is escaped, so only the member itself matches.
        const std::size_t at = text.find(kEmptyBody);
        add(text.substr(0, at + sizeof(kEmptyBody) - 3));
        Segment segment;
        segment.start = size_;
        segment.file = name;
        segment.fileBytes = bytes;
        size_ += segment.fileBytes;
        segments_.push_back(std::move(segment));
        add(text.substr(at + sizeof(kEmptyBody) - 1));
    }
    add(tail);
}

void ReportBody::add(std::string text) {
    if (text.empty()) return;
    Segment segment;
    segment.start = size_;
    size_ += text.size();
    segment.text = std::move(text);
    segments_.push_back(std::move(segment));
}

BodySource ReportBody::source() const {
    return BodySource{size_, [this](std::uint64_t offset, char* buffer, std::size_t max) {
                          return read(offset, buffer, max);
                      }};
}

std::size_t ReportBody::read(std::uint64_t offset, char* buffer, std::size_t max) const {
    if (offset >= size_ || max == 0) return 0;
    const auto it = std::upper_bound(
        segments_.begin(), segments_.end(), offset,
        [](std::uint64_t value, const Segment& segment) { return value < segment.start; });
    const std::size_t index = static_cast<std::size_t>(it - segments_.begin()) - 1;
    const Segment& segment = segments_[index];
    const std::uint64_t within = offset - segment.start;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(max, segment.size() - within));
    if (segment.file.empty()) {
        std::copy_n(segment.text.data() + within, count, buffer);
        return count;
    }
    if (openSegment_ != index) {
        open_.close();
        open_.clear();
        openSegment_ = SIZE_MAX;
        open_.open(answers_ / segment.file, std::ios::binary);
        if (!open_) throw std::runtime_error("The kept answer " + segment.file + " cannot be read");
        openSegment_ = index;
    }
    open_.clear();
    open_.seekg(static_cast<std::streamoff>(within));
    open_.read(buffer, static_cast<std::streamsize>(count));
    const auto got = static_cast<std::size_t>(open_.gcount());
    if (got == 0) {
        throw std::runtime_error("The kept answer " + segment.file + " is shorter than recorded");
    }
    return got;
}

}  // namespace tsl
