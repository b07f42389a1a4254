#pragma once

#include <string>

#include "net/http_client.h"

namespace tsl {

struct TallyProbe {
    bool running = false;
    std::string info;  // one line for the user; never empty
};

// The answer reduced to text: tags removed ("<" to ">"), then trimmed.
std::string stripTags(const std::string& text);

// Tally's XML server at "http://" + host + ":" + port + "/" (an empty host is "localhost").
// Two direct (proxy-free) sessions: a 5 s one for the probe and a 10 minute one for requests.
// Never throws for network or content reasons. Not shared between threads.
class TallyClient {
  public:
    TallyClient(const std::string& host, int port);

    TallyProbe probe() const;
    // One POST of the XML with "Content-Type: text/xml; charset=utf-8"; when a response came
    // back its body is decoded to UTF-8. The HTTP status is not interpreted.
    HttpResponse postXml(const std::string& xml) const;

    const std::string& baseUrl() const { return baseUrl_; }

  private:
    std::string baseUrl_;
    HttpClient probeClient_;
    HttpClient requestClient_;
};

}  // namespace tsl
