#include "net/http_client.h"

// What both transports share: the whole-body exchange is the streamed one with a body held in
// memory and no sink, so limits, redirects and failure sentences cannot differ between them.

namespace tsl {

BodySource sourceOf(const std::string& body) {
    return {body.size(), [&body](std::uint64_t offset, char* buffer, std::size_t max) {
                return body.copy(buffer, max, static_cast<std::size_t>(offset));
            }};
}

HttpResponse HttpClient::request(const std::wstring& method, const std::string& url,
                                 const HttpHeaders& headers, const std::string& body,
                                 ConnectionFacts* connection) const {
    return exchange(method, url, headers, sourceOf(body), nullptr, connection);
}

HttpResponse HttpClient::stream(const std::wstring& method, const std::string& url,
                                const HttpHeaders& headers, const BodySource& source,
                                const BodySink& sink) const {
    return exchange(method, url, headers, source, &sink, nullptr);
}

}  // namespace tsl
