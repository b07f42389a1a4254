#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/http_client.h"
#include "tally/answer_encoder.h"

namespace tsl {

struct TallyProbe {
    bool running = false;
    std::string info;  // one line for the user; never empty
};

// The answer reduced to text: tags removed ("<" to ">"), then trimmed.
std::string stripTags(const std::string& text);

// Tally's XML server at "http://" + host + ":" + port + "/" (an empty host is "localhost").
// Two direct (proxy-free) sessions: the probe has 5 s in all; a request waits up to 10 minutes
// for each piece of the answer and an hour in all. Answers are bounded (kProbeAnswerLimit,
// kAnswerLimit); a stop flag, when given, aborts an exchange in flight. Never throws for
// network or content reasons. Not shared between threads.
class TallyClient {
  public:
    static constexpr std::uint64_t kProbeAnswerLimit = std::uint64_t{1} << 20;
    // The largest answer taken from Tally. A job's answers go to files, not memory (postXmlTo),
    // so this bounds the disk one answer takes and the report's upload, not the memory.
    static constexpr std::uint64_t kAnswerLimit = std::uint64_t{1} << 30;
    static constexpr std::uint32_t kRequestDeadlineMs = 3600000;

    TallyClient(const std::string& host, int port, const std::atomic<bool>* stop = nullptr);

    TallyProbe probe() const;
    // One POST of the XML with "Content-Type: text/xml; charset=utf-8"; when a response came
    // back its body is decoded to UTF-8. The HTTP status is not interpreted. quick: bounded like
    // the probe, for a short read-only question such as which companies are open.
    HttpResponse postXml(const std::string& xml, bool quick = false) const;
    // The same POST with the answer streamed: its bytes go through an AnswerEncoder into sink as
    // they arrive, which thus gets the decoded answer as a JSON string; body stays empty. After
    // a failure the sink may hold part of it, which the caller drops.
    // decodedBytes, when given, receives the decoded answer's length in UTF-8.
    HttpResponse postXmlTo(const std::string& xml, AnswerSink& sink,
                           std::uint64_t* decodedBytes = nullptr) const;

    const std::string& baseUrl() const { return baseUrl_; }

  private:
    std::string baseUrl_;
    HttpClient probeClient_;
    HttpClient requestClient_;
};

}  // namespace tsl
