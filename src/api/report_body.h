#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "json/json.h"
#include "net/http_client.h"

namespace tsl {

// A job's report, {"error":...,"results":[...]}, as the bytes that go on the wire, read piece by
// piece so that no answer needs to be in memory: an item of "results" may name, instead of its
// "body", a file in the answers folder that holds the body's JSON string text (quotes included)
// by kBodyFile and its length by kBodyBytes (decimal digits in a string: wider than a JSON
// number reads back). The bytes are exactly those Json::dump gives for
// the same report with every body inline. Not shared between threads.
class ReportBody {
  public:
    static constexpr const char* kBodyFile = "bodyFile";
    static constexpr const char* kBodyBytes = "bodyBytes";

    // Throws std::runtime_error when an item names its file in a way this program never does
    // (see isAnswerFileName) or gives no usable length.
    ReportBody(const Json& results, const std::string& error, std::filesystem::path answers);

    std::uint64_t size() const { return size_; }
    // The bytes from the start, for HttpClient::stream; *this is lent and must outlive it. A
    // file shorter than its recorded length, or unreadable, throws std::runtime_error.
    BodySource source() const;

  private:
    struct Segment {
        std::uint64_t start = 0;
        std::string text;             // small texts of the envelope, or
        std::string file;             // the name of an answer file
        std::uint64_t fileBytes = 0;  // and its length
        std::uint64_t size() const { return file.empty() ? text.size() : fileBytes; }
    };
    void add(std::string text);
    std::size_t read(std::uint64_t offset, char* buffer, std::size_t max) const;

    std::filesystem::path answers_;
    std::vector<Segment> segments_;
    std::uint64_t size_ = 0;
    mutable std::ifstream open_;  // the answer file read last
    mutable std::size_t openSegment_ = SIZE_MAX;
};

// Whether a name is one this program gives an answer file: digits, then ".jstr". Nothing else
// (a path, "..", a device name) is ever opened as one.
bool isAnswerFileName(const std::string& name);

// Whether a results item names its body's file (kBodyFile, kBodyBytes), and then the name and
// the recorded length; false too when it names one in a way this program never does.
bool answerFileOf(const Json& item, std::string& name, std::uint64_t& bytes);

}  // namespace tsl
