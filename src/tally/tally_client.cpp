#include "tally/tally_client.h"

#include <utility>

#include "support/text.h"

namespace tsl {

namespace {

constexpr std::uint32_t kProbeTimeoutMs = 5000;
constexpr std::uint32_t kRequestTimeoutMs = 600000;
constexpr std::size_t kInfoLimit = 200;
const HttpHeaders kXmlHeaders = {{L"Content-Type", L"text/xml; charset=utf-8"}};

std::string makeBaseUrl(const std::string& host, int port) {
    return "http://" + (host.empty() ? std::string("localhost") : host) + ":" +
           std::to_string(port) + "/";
}

}  // namespace

std::string stripTags(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool inTag = false;
    std::size_t runStart = 0;
    // Copy the runs between tags in bulk; answers can be large.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '<' && c != '>') continue;
        if (!inTag) out.append(text, runStart, i - runStart);
        inTag = (c == '<');
        runStart = i + 1;
    }
    if (!inTag && runStart < text.size()) out.append(text, runStart, std::string::npos);
    return trim(out);
}

TallyClient::TallyClient(const std::string& host, int port, const std::atomic<bool>* stop)
    : baseUrl_(makeBaseUrl(host, port)),
      probeClient_(true, kProbeTimeoutMs, HttpLimits{kProbeAnswerLimit, kProbeTimeoutMs, stop, 0}),
      requestClient_(true, kRequestTimeoutMs,
                     HttpLimits{kAnswerLimit, kRequestDeadlineMs, stop, 0}) {}

TallyProbe TallyClient::probe() const {
    TallyProbe result;
    HttpResponse response = probeClient_.request(L"GET", baseUrl_, {}, std::string());
    if (!response.ok) {
        result.info =
            "Tally is not running, or its XML server is off (expected at " + baseUrl_ + ")";
        return result;
    }
    const std::string text = stripTags(decodeText(std::move(response.body)));
    result.running = text.find("Running") != std::string::npos;
    result.info =
        text.empty() ? "Unexpected answer from " + baseUrl_ : utf8Prefix(text, kInfoLimit);
    return result;
}

HttpResponse TallyClient::postXml(const std::string& xml, bool quick) const {
    HttpResponse response =
        (quick ? probeClient_ : requestClient_).request(L"POST", baseUrl_, kXmlHeaders, xml);
    if (response.ok) response.body = decodeText(std::move(response.body));
    return response;
}

HttpResponse TallyClient::postXmlTo(const std::string& xml, AnswerSink& sink,
                                    std::uint64_t* decodedBytes) const {
    AnswerEncoder encoder(sink);
    HttpResponse response =
        requestClient_.stream(L"POST", baseUrl_, kXmlHeaders, sourceOf(xml),
                              [&encoder](std::string_view bytes) { encoder.feed(bytes); });
    if (response.ok) encoder.finish();
    if (decodedBytes) *decodedBytes = encoder.decodedBytes();
    return response;
}

}  // namespace tsl
