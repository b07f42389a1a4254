#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "net/async_request_winhttp.h"
#include "net/connection_facts_winhttp.h"
#include "net/exchange_bounds.h"
#include "net/redirect.h"
#include "net/url_parts.h"
#include "support/system_error.h"
#include "support/text.h"
#include "support/version.h"
#include "support/win32_handles.h"

namespace tsl {

namespace {

constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr DWORD kTls12And13 = 0x800 | 0x2000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | _TLS1_3
constexpr DWORD kTls12 = 0x800;
constexpr DWORD kAutomaticProxy = 4;  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY (Windows 8.1 on)
constexpr DWORD kHostBuffer = 256;
constexpr DWORD kPathBuffer = 2048;

HttpResponse failure(const std::string& sentence, DWORD code) {
    HttpResponse response;
    response.error = sentence + ": " + systemErrorText(code);
    return response;
}

HttpResponse proxySignInRefused() {
    HttpResponse response;
    response.error = kProxySignInRefused;
    return response;
}

// Asynchronous, so that a wait can be cut short by the stop flag or the deadline.
InternetHandle openSessionWith(DWORD accessType) {
    return InternetHandle(WinHttpOpen(fromUtf8(kUserAgent).c_str(), accessType,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                      WINHTTP_FLAG_ASYNC));
}

InternetHandle openSession(bool direct) {
    if (direct) return openSessionWith(WINHTTP_ACCESS_TYPE_NO_PROXY);
    InternetHandle session = openSessionWith(kAutomaticProxy);
    if (session) return session;
    return openSessionWith(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY);
}

void configureSession(HINTERNET session, int ioTimeout) {
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, ioTimeout, ioTimeout);
    DWORD protocols = kTls12And13;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        protocols = kTls12;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    }
}

struct CrackedUrl {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;
};

// WinHttpCrackUrl with the fixed host and path buffers; false (and the last error set) when
// the URL does not split or a part does not fit.
bool crackUrl(const std::wstring& url, CrackedUrl& out) {
    wchar_t host[kHostBuffer] = {};
    wchar_t path[kPathBuffer] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostBuffer;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathBuffer;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    out.host.assign(host, parts.dwHostNameLength);
    out.port = parts.nPort;
    out.path.assign(path, parts.dwUrlPathLength);
    return true;
}

// "name: value\r\n" per header in the caller's order; false when a header could smuggle a
// line of its own into the block.
bool buildHeaderBlock(const HttpHeaders& headers, std::wstring& block) {
    for (const auto& [name, value] : headers) {
        if (!isHttpToken(toUtf8(name)) || !isSafeHeaderValue(toUtf8(value))) return false;
        block += name + L": " + value + L"\r\n";
    }
    return true;
}

// What every request of one exchange shares.
struct HopSettings {
    HINTERNET session = nullptr;
    HINTERNET loopbackSession = nullptr;  // never through a proxy
    DWORD responseTimeoutMs = 0;
    const std::wstring& headerBlock;
    const ExchangeBounds& bounds;
    BodyTarget& target;
};

// A wait that did not end in the expected completion: the exchange's limits, or the step's
// own failure.
HttpResponse interrupted(const Completion& completion, const std::string& sentence,
                         const std::string& host, const ExchangeBounds& bounds) {
    switch (completion.outcome) {
        case Completion::Outcome::Stopped:
            return failure(ExchangeBounds::stoppedSentence(host),
                           ERROR_WINHTTP_OPERATION_CANCELLED);
        case Completion::Outcome::PastDeadline:
            return failure(bounds.deadlineSentence(host), ERROR_WINHTTP_TIMEOUT);
        default:
            return failure(sentence, completion.error);
    }
}

// The platform must not follow redirects itself: followRedirects decides, for both
// transports alike. Either option is enough; false when the platform takes neither.
bool refuseAutomaticRedirects(HINTERNET request) {
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    const bool never =
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    const bool disabled =
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
    return never || disabled;
}

// The Content-Length as announced, whatever its size; no value without a usable one.
std::optional<std::uint64_t> announcedLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    int digits = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c == L' ' || *c == L'\t') continue;
        if (*c < L'0' || *c > L'9' || ++digits > 19) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
    }
    if (digits == 0) return std::nullopt;
    return value;
}

// The Location header; one too long to be usable comes back longer than kMaxLocation.
std::optional<std::string> locationOf(HINTERNET request) {
    std::vector<wchar_t> text(kMaxLocation + 2);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                            text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        return toUtf8(std::wstring(text.data(), size / sizeof(wchar_t)));
    }
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return std::string(kMaxLocation + 1, '/');
    return std::nullopt;
}

// Reads the whole body, bounded by the limits. A body that ends before its Content-Length is
// a broken one too: the platform reports the early end of the connection as the end of the
// data, and a cut Tally answer must not pass for a whole one.
std::optional<HttpResponse> readBody(AsyncRequest& request, bool bodyExpected, bool followed,
                                     const std::string& host, const ExchangeBounds& bounds,
                                     BodyTarget& target) {
    const std::string sentence = "Reading the response from " + host + " failed";
    const auto announced = bodyExpected ? announcedLength(request.handle()) : std::nullopt;
    if (!target.begin(followed, announced)) {
        return failure(bounds.tooLargeSentence(host), ERROR_FILE_TOO_LARGE);
    }
    for (;;) {
        if (!WinHttpQueryDataAvailable(request.handle(), nullptr)) {
            return failure(sentence, GetLastError());
        }
        const Completion available = request.await(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, bounds);
        if (available.outcome != Completion::Outcome::Done) {
            return interrupted(available, sentence, host, bounds);
        }
        if (available.count == 0) {
            if (announced && target.received() < *announced) {
                return failure(sentence, ERROR_WINHTTP_CONNECTION_ERROR);
            }
            return std::nullopt;
        }
        if (!request.read(available.count)) return failure(sentence, GetLastError());
        const Completion read = request.await(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, bounds);
        if (read.outcome != Completion::Outcome::Done) {
            return interrupted(read, sentence, host, bounds);
        }
        if (!target.take(request.buffer(), read.count)) {
            return failure(bounds.tooLargeSentence(host), ERROR_FILE_TOO_LARGE);
        }
    }
}

// The body after the head, read from its start block by block into the request's own buffer
// (the caller's bytes are never handed to the platform, which may outlive the exchange). The
// caller has checked that the length fits the 32-bit count of the send call.
std::optional<HttpResponse> writeBody(AsyncRequest& request, const BodySource& body,
                                      std::uint64_t offset, const std::string& sentence,
                                      const std::string& host, const ExchangeBounds& bounds) {
    while (offset < body.size) {
        const auto max = static_cast<std::size_t>(
            std::min<std::uint64_t>(body.size - offset, AsyncRequest::kBufferSize));
        const std::size_t size = body.read(offset, request.writeBuffer(), max);
        if (size == 0 || size > max || !request.write(static_cast<DWORD>(size))) {
            return failure(sentence, size == 0 || size > max ? ERROR_READ_FAULT : GetLastError());
        }
        const Completion written = request.await(WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE, bounds);
        if (written.outcome != Completion::Outcome::Done) {
            return interrupted(written, sentence, host, bounds);
        }
        if (written.count == 0) return failure(sentence, ERROR_WINHTTP_CONNECTION_ERROR);
        offset += written.count;
    }
    return std::nullopt;
}

DWORD statusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    return status;
}

// After the answer's headers: the status (0 when it cannot be read), the whole body and,
// for a redirect, the Location.
HopAnswer receive(AsyncRequest& request, const std::wstring& method, const std::string& host,
                  const ExchangeBounds& bounds, BodyTarget& target) {
    const DWORD status = statusOf(request.handle());
    // Answers to HEAD, 204 and 304 carry no body whatever their Content-Length says.
    const bool bodyExpected = method != L"HEAD" && status >= 200 && status != 204 && status != 304;
    HopAnswer answer;
    if (isRedirectStatus(status)) answer.location = locationOf(request.handle());
    if (auto failed =
            readBody(request, bodyExpected, answer.location.has_value(), host, bounds, target)) {
        return {std::move(*failed), std::nullopt};
    }
    answer.response.body = target.takeKept();
    answer.response.ok = true;
    answer.response.status = status;
    wchar_t date[65] = {};
    DWORD dateSize = sizeof(date) - sizeof(wchar_t);
    if (WinHttpQueryHeaders(request.handle(), WINHTTP_QUERY_DATE, WINHTTP_HEADER_NAME_BY_INDEX,
                            date, &dateSize, WINHTTP_NO_HEADER_INDEX)) {
        answer.response.date = toUtf8(std::wstring(date, dateSize / sizeof(wchar_t)));
    }
    return answer;
}

// Sends the request with its body and waits for the answer's headers. facts, when given,
// receive what was seen while connecting.
std::optional<HttpResponse> sendAndAwaitAnswer(AsyncRequest& request, const HopSettings& settings,
                                               const BodySource& body, const std::string& host,
                                               bool secure, ConnectionFacts* facts) {
    const ExchangeBounds& bounds = settings.bounds;
    const std::string notSent = "Could not send request to " + host;
    // A small body goes with the head in one send; a larger one follows it piece by piece,
    // and so does one that cannot be read whole now (to fail there as any other).
    DWORD withHead = 0;
    static_assert(kBodyWithHead <= AsyncRequest::kBufferSize);
    if (body.size > 0 && body.size <= kBodyWithHead && readWholeBody(body, request.writeBuffer())) {
        withHead = static_cast<DWORD>(body.size);
    }
    if (!request.send(settings.headerBlock, static_cast<DWORD>(body.size), withHead)) {
        return failure(notSent, GetLastError());
    }
    const Completion sent = request.await(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, bounds);
    if (facts) {
        const bool done = sent.outcome == Completion::Outcome::Done;
        *facts = connectionFacts(request, secure, done ? 0 : sent.error);
    }
    if (sent.outcome != Completion::Outcome::Done) return interrupted(sent, notSent, host, bounds);
    if (auto failed = writeBody(request, body, withHead, notSent, host, bounds)) return failed;
    const std::string noResponse = "No response from " + host;
    if (!WinHttpReceiveResponse(request.handle(), nullptr)) {
        return failure(noResponse, GetLastError());
    }
    const Completion answered = request.await(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, bounds);
    if (answered.outcome != Completion::Outcome::Done) {
        return interrupted(answered, noResponse, host, bounds);
    }
    return std::nullopt;
}

// After a proxy's 407: when it takes Negotiate or NTLM, the next send carries the signed-in
// user's own credentials (null user name and password), which the auto-logon policy must allow
// for the proxy; false for any other scheme.
bool signInWithOwnCredentials(HINTERNET request) {
    DWORD schemes = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (!WinHttpQueryAuthSchemes(request, &schemes, &first, &target) ||
        target != WINHTTP_AUTH_TARGET_PROXY) {
        return false;
    }
    const DWORD scheme = (schemes & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                         : (schemes & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                   : 0;
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    return scheme != 0 &&
           WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy)) &&
           WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                                 nullptr);
}

// One request and its answer: connect, open the request, send, wait for the answer, read it.
// Every handle is closed on every path. facts, when given, receive what was seen while
// connecting.
HopAnswer sendHop(const HopSettings& settings, const std::wstring& method, const UrlParts& target,
                  const BodySource& body, ConnectionFacts* facts) {
    const std::string url = urlText(target);
    CrackedUrl cracked;
    if (!crackUrl(fromUtf8(url), cracked)) {
        const DWORD code = GetLastError();
        return {failure("Invalid URL '" + url + "'", code), std::nullopt};
    }
    const std::string host = toUtf8(cracked.host);
    const ExchangeBounds& bounds = settings.bounds;
    if (bounds.stopSet()) {
        return {failure(ExchangeBounds::stoppedSentence(host), ERROR_WINHTTP_OPERATION_CANCELLED),
                std::nullopt};
    }
    if (bounds.pastDeadline()) {
        return {failure(bounds.deadlineSentence(host), ERROR_WINHTTP_TIMEOUT), std::nullopt};
    }
    const HINTERNET session =
        isLoopbackHost(target.host) ? settings.loopbackSession : settings.session;
    InternetHandle connection(WinHttpConnect(session, cracked.host.c_str(), cracked.port, 0));
    if (!connection) {
        const DWORD code = GetLastError();
        return {failure("Could not connect to " + host, code), std::nullopt};
    }
    AsyncRequest request;
    if (!request.open(connection.get(), method.c_str(), cracked.path.c_str(), cracked.secure) ||
        !refuseAutomaticRedirects(request.handle())) {
        const DWORD code = GetLastError();
        return {failure("Could not open request", code), std::nullopt};
    }
    // The wait for the answer's headers has a time-out of its own (90 s by default), which
    // would cut a slow Tally short long before the caller's ten minutes; it gets the caller's.
    DWORD responseTimeoutMs = settings.responseTimeoutMs;
    WinHttpSetOption(request.handle(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeoutMs,
                     sizeof(responseTimeoutMs));

    // The user's own credentials go only to a proxy this client may use: never to a 407 from
    // this machine or on a direct client, where no proxy asked for them.
    bool mayAnswerProxy = session != settings.loopbackSession;
    for (;;) {
        if (auto failed =
                sendAndAwaitAnswer(request, settings, body, host, cracked.secure, facts)) {
            return {std::move(*failed), std::nullopt};
        }
        if (statusOf(request.handle()) != 407) break;
        if (!mayAnswerProxy || !signInWithOwnCredentials(request.handle())) {
            return {proxySignInRefused(), std::nullopt};
        }
        mayAnswerProxy = false;  // the same request once more, body and all
    }
    return receive(request, method, host, bounds, settings.target);
}

std::string redirectRefusalText(RedirectRefusal) {
    return systemErrorText(ERROR_WINHTTP_REDIRECT_FAILED);
}

}  // namespace

struct HttpClient::Session {
    InternetHandle handle;
    InternetHandle loopback;  // without a proxy, for this machine; null when handle is direct
    DWORD openError = 0;
    DWORD responseTimeoutMs = 0;
    HttpLimits limits;
};

void HttpClient::initialise() {}  // WinHTTP needs no process-wide set-up

HttpClient::HttpClient(bool direct, std::uint32_t timeoutMs, HttpLimits limits)
    : session_(new Session) {
    session_->limits = limits;
    session_->handle = openSession(direct);
    if (session_->handle && !direct) {
        session_->loopback = openSession(true);
        if (!session_->loopback) session_->handle.reset();
    }
    if (!session_->handle) {
        session_->openError = GetLastError();
        return;
    }
    const int ioTimeout = static_cast<int>(std::min<std::uint32_t>(
        timeoutMs, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
    session_->responseTimeoutMs = static_cast<DWORD>(ioTimeout);
    configureSession(session_->handle.get(), ioTimeout);
    if (session_->loopback) configureSession(session_->loopback.get(), ioTimeout);
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&& other) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&& other) noexcept = default;

HttpResponse HttpClient::exchange(const std::wstring& method, const std::string& url,
                                  const HttpHeaders& headers, const BodySource& source,
                                  const BodySink* sink, ConnectionFacts* connection) const {
    if (!session_ || !session_->handle) {
        return failure("WinHTTP is not available",
                       session_ ? session_->openError : ERROR_INVALID_HANDLE);
    }
    // Our own check first, so that both builds refuse the same URLs (and nothing unescaped
    // reaches the request line); then the platform's split, with its fixed buffers.
    const auto parts = splitUrl(url);
    if (!parts) return failure("Invalid URL '" + url + "'", ERROR_WINHTTP_INVALID_URL);
    CrackedUrl cracked;
    if (!crackUrl(fromUtf8(url), cracked)) {
        const DWORD code = GetLastError();
        return failure("Invalid URL '" + url + "'", code);
    }
    std::wstring block;
    if (!isHttpToken(toUtf8(method)) || !buildHeaderBlock(headers, block)) {
        return failure("Could not open request", ERROR_INVALID_PARAMETER);
    }
    // The send call takes a 32-bit length; a longer body would go out cut short.
    if (source.size > std::numeric_limits<DWORD>::max()) {
        return failure("Could not send request to " + toUtf8(cracked.host),
                       ERROR_INVALID_PARAMETER);
    }
    const ExchangeBounds bounds(session_->limits);
    BodyTarget target(bounds, sink);
    const HINTERNET session = session_->handle.get();
    const HopSettings settings{session,
                               session_->loopback ? session_->loopback.get() : session,
                               session_->responseTimeoutMs,
                               block,
                               bounds,
                               target};
    const BodySource none;
    // The facts are those of the first hop, the connection to the address given.
    const SendHop send = [&](const std::wstring& verb, const UrlParts& to, bool withBody) {
        return sendHop(settings, verb, to, withBody ? source : none,
                       std::exchange(connection, nullptr));
    };
    return followRedirects(method, *parts, send, redirectRefusalText);
}

}  // namespace tsl
