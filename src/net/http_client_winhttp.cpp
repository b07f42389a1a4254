#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <limits>

#include "net/url_parts.h"
#include "support/system_error.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

namespace {

constexpr wchar_t kUserAgent[] = L"TessalineTallyConnector/1.0.0";
constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr DWORD kTls12And13 = 0x800 | 0x2000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | _TLS1_3
constexpr DWORD kTls12 = 0x800;
constexpr DWORD kAutomaticProxy = 4;  // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY (Windows 8.1 on)
constexpr DWORD kHostBuffer = 256;
constexpr DWORD kPathBuffer = 2048;
// A Content-Length is trusted for the first reservation only up to this size; a larger body
// still arrives, growing geometrically, but a lying header cannot make us allocate gigabytes.
constexpr DWORD kMaxReserve = DWORD{256} << 20;

HttpResponse failure(const std::string& sentence, DWORD code) {
    HttpResponse response;
    response.error = sentence + ": " + systemErrorText(code);
    return response;
}

InternetHandle openSession(bool direct) {
    if (direct) {
        return InternetHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    }
    InternetHandle session(WinHttpOpen(kUserAgent, kAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) return session;
    return InternetHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
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

// Reads the whole body; the platform's error code when asking for or reading data fails. A
// body that ends before its Content-Length is a broken one too: the platform reports the
// early end of the connection as the end of the data, and a cut Tally answer must not pass
// for a whole one.
DWORD readBody(HINTERNET request, bool bodyExpected, std::string& body) {
    DWORD announced = 0;
    DWORD size = sizeof(announced);
    const bool known =
        bodyExpected &&
        WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size,
                            WINHTTP_NO_HEADER_INDEX);
    if (known) body.reserve(std::min(announced, kMaxReserve));
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return GetLastError();
        if (available == 0) {
            return known && body.size() < announced ? ERROR_WINHTTP_CONNECTION_ERROR
                                                    : ERROR_SUCCESS;
        }
        const std::size_t old = body.size();
        body.resize(old + available);  // std::string grows its capacity geometrically
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + old, available, &read)) return GetLastError();
        body.resize(old + read);
    }
}

// After the answer's headers: the status (0 when it cannot be read) and the whole body.
HttpResponse receive(HINTERNET request, const std::wstring& method, const std::string& host) {
    HttpResponse response;
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    // Answers to HEAD, 204 and 304 carry no body whatever their Content-Length says.
    const bool bodyExpected = method != L"HEAD" && status >= 200 && status != 204 && status != 304;
    if (const DWORD code = readBody(request, bodyExpected, response.body); code != ERROR_SUCCESS) {
        return failure("Reading the response from " + host + " failed", code);
    }
    response.ok = true;
    response.status = status;
    return response;
}

// Steps 4 to 10 on an open connection: the request handle, the header block, sending, waiting
// for the answer and reading it. The request handle is closed on every path.
HttpResponse exchange(HINTERNET connection, const CrackedUrl& target, const std::string& host,
                      const std::wstring& method, const HttpHeaders& headers,
                      const std::string& body, DWORD responseTimeoutMs) {
    std::wstring block;
    if (!isHttpToken(toUtf8(method)) || !buildHeaderBlock(headers, block)) {
        return failure("Could not open request", ERROR_INVALID_PARAMETER);
    }
    InternetHandle request(WinHttpOpenRequest(
        connection, method.c_str(), target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        const DWORD code = GetLastError();
        return failure("Could not open request", code);
    }
    // The wait for the answer's headers has a time-out of its own (90 s by default), which
    // would cut a slow Tally short long before the caller's ten minutes; it gets the caller's.
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeoutMs,
                     sizeof(responseTimeoutMs));

    // The send call takes a 32-bit length; a longer body would go out cut short.
    if (body.size() > std::numeric_limits<DWORD>::max()) {
        return failure("Could not send request to " + host, ERROR_INVALID_PARAMETER);
    }
    const DWORD length = static_cast<DWORD>(body.size());
    void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(request.get(),
                            block.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : block.c_str(),
                            block.empty() ? 0 : static_cast<DWORD>(-1), data, length, length, 0)) {
        const DWORD code = GetLastError();
        return failure("Could not send request to " + host, code);
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD code = GetLastError();
        return failure("No response from " + host, code);
    }
    return receive(request.get(), method, host);
}

}  // namespace

struct HttpClient::Session {
    InternetHandle handle;
    DWORD openError = 0;
    DWORD responseTimeoutMs = 0;
    HttpLimits limits;
};

void HttpClient::initialise() {}  // WinHTTP needs no process-wide set-up

HttpClient::HttpClient(bool direct, std::uint32_t timeoutMs, HttpLimits limits)
    : session_(new Session) {
    session_->limits = limits;
    session_->handle = openSession(direct);
    if (!session_->handle) {
        session_->openError = GetLastError();
        return;
    }
    const int ioTimeout = static_cast<int>(std::min<std::uint32_t>(
        timeoutMs, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
    session_->responseTimeoutMs = static_cast<DWORD>(ioTimeout);
    WinHttpSetTimeouts(session_->handle.get(), kResolveTimeoutMs, kConnectTimeoutMs, ioTimeout,
                       ioTimeout);
    DWORD protocols = kTls12And13;
    if (!WinHttpSetOption(session_->handle.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        protocols = kTls12;
        WinHttpSetOption(session_->handle.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                         sizeof(protocols));
    }
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&& other) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&& other) noexcept = default;

HttpResponse HttpClient::request(const std::wstring& method, const std::string& url,
                                 const HttpHeaders& headers, const std::string& body) const {
    if (!session_ || !session_->handle) {
        return failure("WinHTTP is not available",
                       session_ ? session_->openError : ERROR_INVALID_HANDLE);
    }
    // Our own check first, so that both builds refuse the same URLs (and nothing unescaped
    // reaches the request line); then the platform's split, with its fixed buffers.
    CrackedUrl target;
    if (!splitUrl(url)) return failure("Invalid URL '" + url + "'", ERROR_WINHTTP_INVALID_URL);
    if (!crackUrl(fromUtf8(url), target)) {
        const DWORD code = GetLastError();
        return failure("Invalid URL '" + url + "'", code);
    }
    const std::string host = toUtf8(target.host);

    InternetHandle connection(
        WinHttpConnect(session_->handle.get(), target.host.c_str(), target.port, 0));
    if (!connection) {
        const DWORD code = GetLastError();
        return failure("Could not connect to " + host, code);
    }

    return exchange(connection.get(), target, host, method, headers, body,
                    session_->responseTimeoutMs);
}

}  // namespace tsl
