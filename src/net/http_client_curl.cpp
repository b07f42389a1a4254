#include "net/http_client.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "net/connection_facts_curl.h"
#include "net/exchange_bounds.h"
#include "net/http_client_testing.h"
#include "net/redirect.h"
#include "net/url_parts.h"
#include "support/text.h"
#include "support/version.h"

namespace tsl {

namespace {

constexpr long kConnectTimeoutMs = 15000;  // covers name resolution, connection and handshake
// Receive buffer: libcurl's 16 KiB default costs a third of loopback throughput on large
// bodies (the curl command itself uses 100 KiB).
constexpr long kReceiveBuffer = 256 * 1024;

struct EasyCloser {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCloser>;

struct ListCloser {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListCloser>;

struct GlobalState {
    std::once_flag once;
    CURLcode initResult = CURLE_OK;
    std::mutex authorityMutex;
    std::string extraAuthority;  // tests only, see http_client_testing.h
};

GlobalState& global() {
    static GlobalState state;
    return state;
}

CURLcode initialiseOnce() {
    GlobalState& state = global();
    std::call_once(state.once, [&state] { state.initResult = curl_global_init(CURL_GLOBAL_ALL); });
    return state.initResult;
}

std::string extraAuthority() {
    GlobalState& state = global();
    std::lock_guard lock(state.authorityMutex);
    return state.extraAuthority;
}

std::string curlErrorText(CURLcode code) {
    return std::string(curl_easy_strerror(code)) + " (" + std::to_string(static_cast<int>(code)) +
           ")";
}

HttpResponse failure(const std::string& sentence, CURLcode code) {
    HttpResponse response;
    response.error = sentence + ": " + curlErrorText(code);
    return response;
}

HttpResponse proxySignInRefused() {
    HttpResponse response;
    response.error = kProxySignInRefused;
    return response;
}

using Clock = std::chrono::steady_clock;

// What one perform() learned along the way; the callbacks' user data.
struct Exchange {
    Exchange(const ExchangeBounds& b, BodyTarget& t, const BodySource* s)
        : bounds(b), target(t), source(s) {}
    CURL* handle = nullptr;
    const ExchangeBounds& bounds;
    BodyTarget& target;
    const BodySource* source;  // null: no body
    std::uint64_t sent = 0;
    Clock::duration silenceLimit{};  // 0: wait for data as long as it takes
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    bool stalled = false;  // the silence limit ended the transfer
    bool bodyBegun = false;
    std::string authorityFile;
    std::unique_ptr<CertificateWatch> watch;  // only when the caller asked for the facts
    bool connected = false;    // connection (and handshake) done, the request is going out
    bool headersDone = false;  // the final response's header block has ended
    long blockStatus = 0;      // status of the header block being read
    std::optional<std::string> location;  // of the block being read, at most kMaxLocation + 1
    std::string date;                     // of the block being read, at most 64 bytes
    bool tooLarge = false;                // the body grew past the limit
    bool stopped = false;                 // the stop flag ended the transfer
    std::exception_ptr fault;  // memory exhaustion inside a callback, rethrown afterwards
    std::string bodyWithHead;  // a small body, sent with the request's head
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Follows the header blocks so that a failure can be placed before or after the answer
// began (a 1xx block is not the final answer), and keeps the Location for followRedirects.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::string_view line(data, size * count);
    try {
        if (startsWithNoCase(line, "HTTP/")) {
            ex.headersDone = false;
            ex.location.reset();
            ex.date.clear();
            // The status follows the first blank; the line is not zero-terminated.
            const std::size_t blank = std::min(line.find(' '), line.size());
            ex.blockStatus = 0;
            std::from_chars(line.data() + blank + (blank < line.size() ? 1 : 0),
                            line.data() + line.size(), ex.blockStatus);
        } else if (startsWithNoCase(line, "location:") && !ex.location) {
            ex.location = std::string(trimmed(line.substr(9)).substr(0, kMaxLocation + 1));
        } else if (startsWithNoCase(line, "date:")) {
            ex.date = std::string(trimmed(line.substr(5)).substr(0, 64));
        } else if (line == "\r\n" || line == "\n") {
            ex.headersDone = ex.blockStatus >= 200;
        }
    } catch (...) {
        ex.fault = std::current_exception();
        return 0;
    }
    return line.size();
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const size_t length = size * count;
    try {
        if (!ex.bodyBegun) {
            ex.bodyBegun = true;
            curl_off_t announced = -1;
            curl_easy_getinfo(ex.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            const bool followed = isRedirectStatus(static_cast<std::uint32_t>(ex.blockStatus)) &&
                                  ex.location.has_value();
            if (!ex.target.begin(followed, announced > 0 ? std::optional<std::uint64_t>(announced)
                                                         : std::nullopt)) {
                ex.tooLarge = true;
                return 0;
            }
        }
        if (!ex.target.take(data, length)) {
            ex.tooLarge = true;
            return 0;
        }
    } catch (...) {
        ex.fault = std::current_exception();
        return 0;  // anything but length aborts the transfer
    }
    return length;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::uint64_t left = ex.source ? ex.source->size - ex.sent : 0;
    const auto max = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, left));
    if (max == 0) return 0;
    try {
        const std::size_t got = ex.source->read(ex.sent, buffer, max);
        if (got == 0 || got > max) return CURL_READFUNC_ABORT;
        ex.sent += got;
        return got;
    } catch (...) {
        ex.fault = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

// The body again from an offset (from the start when a proxy's sign-in is answered): a source
// is read by offset, so this only moves the mark.
int onSeek(void* user, curl_off_t offset, int origin) {
    auto& ex = *static_cast<Exchange*>(user);
    const std::uint64_t size = ex.source ? ex.source->size : 0;
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > size) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    ex.sent = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

// WinHTTP's send and receive time-outs are limits on silence: no byte moved for that long.
// curl's low-speed check averages over several seconds (a peer that sent a few bytes and then
// fell silent would get several times the time-out), so silence is watched here as well.
// curl calls it at least once a second, also while nothing moves: the stop flag is read here.
int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& ex = *static_cast<Exchange*>(user);
    if (ex.bounds.stopRequested()) {
        ex.stopped = true;
        return 1;
    }
    const auto now = Clock::now();
    if (!ex.connected || down != ex.lastDown || up != ex.lastUp) {
        ex.lastDown = down;
        ex.lastUp = up;
        ex.lastActivity = now;
        return 0;
    }
    if (ex.silenceLimit.count() > 0 && now - ex.lastActivity >= ex.silenceLimit) {
        ex.stalled = true;
        return 1;  // aborts the transfer
    }
    return 0;
}

int onConnected(void* user, char*, char*, int, int) {
    auto& ex = *static_cast<Exchange*>(user);
    ex.connected = true;
    if (ex.watch) noteTlsVersion(ex.handle, *ex.watch);
    return CURL_PREREQFUNC_OK;
}

CURLcode prepareContext(CURL*, void* sslContext, void* user) {
    const auto& ex = *static_cast<Exchange*>(user);
    auto* context = static_cast<SSL_CTX*>(sslContext);
    if (!ex.authorityFile.empty() &&
        X509_STORE_load_file(SSL_CTX_get_cert_store(context), ex.authorityFile.c_str()) != 1) {
        return CURLE_SSL_CACERT_BADFILE;
    }
    if (ex.watch && !watchCertificates(context, ex.watch.get())) return CURLE_SSL_CONNECT_ERROR;
    return CURLE_OK;
}

bool hasHeader(const HttpHeaders& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(), [name](const auto& header) {
        const std::string given = toUtf8(header.first);
        return given.size() == name.size() && startsWithNoCase(given, name);
    });
}

bool append(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
}

// The caller's headers in order, then "Name:" entries that stop curl from adding its own
// Accept, Expect and (for any POST, even an empty one) form Content-Type; an entry without a
// value only removes.
CURLcode buildHeaders(const HttpHeaders& headers, HeaderList& list) {
    for (const auto& [wideName, wideValue] : headers) {
        const std::string name = toUtf8(wideName);
        const std::string value = toUtf8(wideValue);
        if (!isHttpToken(name) || !isSafeHeaderValue(value)) return CURLE_BAD_FUNCTION_ARGUMENT;
        // "Name;" is curl's way to send a header with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        if (!append(list, line)) return CURLE_OUT_OF_MEMORY;
    }
    if (!hasHeader(headers, "Accept") && !append(list, "Accept:")) return CURLE_OUT_OF_MEMORY;
    if (!hasHeader(headers, "Expect") && !append(list, "Expect:")) return CURLE_OUT_OF_MEMORY;
    if (!hasHeader(headers, "Content-Type") && !append(list, "Content-Type:")) {
        return CURLE_OUT_OF_MEMORY;
    }
    return CURLE_OK;
}

// Sets one option after another until one is refused.
class Options {
  public:
    explicit Options(CURL* handle) : handle_(handle) {}
    template <typename T>
    Options& set(CURLoption option, T value) {
        if (result_ == CURLE_OK) result_ = curl_easy_setopt(handle_, option, value);
        return *this;
    }
    CURLcode result() const { return result_; }

  private:
    CURL* handle_;
    CURLcode result_ = CURLE_OK;
};

// The method decides how curl sends the body: GET and HEAD as themselves, POST as a post of
// the bytes, anything else by name (with the bytes when there are any). The bytes come from
// onRead (never curl's default, stdin), their length announced.
void setMethod(Options& options, const std::string& method, std::uint64_t bodySize) {
    if (method == "GET" && bodySize == 0) {
        options.set(CURLOPT_HTTPGET, 1L);
        return;
    }
    if (method == "HEAD" && bodySize == 0) {
        options.set(CURLOPT_NOBODY, 1L);
        return;
    }
    if (method != "POST") options.set(CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "POST" || bodySize > 0) {
        options.set(CURLOPT_POST, 1L)
            .set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodySize));
    }
}

// curl's own stall check in whole seconds, rounded up (1500 ms becomes 2 s, never less than
// asked); it backs up the silence watch of onProgress. 0 means no limit, as in WinHTTP.
long stallSeconds(std::uint32_t timeoutMs) {
    return static_cast<long>((std::uint64_t{timeoutMs} + 999) / 1000);
}

// What every request of one exchange shares: the client's choices and the exchange's bounds.
struct HopSettings {
    bool direct = false;
    std::uint32_t timeoutMs = 0;
    curl_slist* headers = nullptr;
    const ExchangeBounds& bounds;
    BodyTarget& target;
};

// curl follows no redirect itself: followRedirects decides, for both transports alike.
CURLcode configure(CURL* handle, const HopSettings& settings, const UrlParts& target,
                   const std::string& method, Exchange& ex) {
    const std::string url = urlText(target);
    Options options(handle);
    options.set(CURLOPT_URL, url.c_str())
        .set(CURLOPT_PROTOCOLS_STR, "http,https")
        .set(CURLOPT_FOLLOWLOCATION, 0L)
        .set(CURLOPT_PATH_AS_IS, 1L)
        .set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
        .set(CURLOPT_USERAGENT, kUserAgent)
        .set(CURLOPT_HTTPHEADER, settings.headers)
        .set(CURLOPT_BUFFERSIZE, kReceiveBuffer)
        .set(CURLOPT_NOSIGNAL, 1L)
        .set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs)
        .set(CURLOPT_LOW_SPEED_LIMIT, 1L)
        .set(CURLOPT_LOW_SPEED_TIME, stallSeconds(settings.timeoutMs))
        .set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2))
        .set(CURLOPT_SSL_VERIFYPEER, 1L)
        .set(CURLOPT_SSL_VERIFYHOST, 2L)
        // A proxy's address with a user name and password: whichever scheme it asks for.
        .set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY))
        .set(CURLOPT_HEADERFUNCTION, onHeader)
        .set(CURLOPT_HEADERDATA, &ex)
        .set(CURLOPT_WRITEFUNCTION, onBody)
        .set(CURLOPT_WRITEDATA, &ex)
        .set(CURLOPT_READFUNCTION, onRead)
        .set(CURLOPT_READDATA, &ex)
        .set(CURLOPT_SEEKFUNCTION, onSeek)
        .set(CURLOPT_SEEKDATA, &ex)
        .set(CURLOPT_PREREQFUNCTION, onConnected)
        .set(CURLOPT_PREREQDATA, &ex)
        .set(CURLOPT_NOPROGRESS, 0L)
        .set(CURLOPT_XFERINFOFUNCTION, onProgress)
        .set(CURLOPT_XFERINFODATA, &ex);
    // The rest of the exchange's time; curl's own clock ends the transfer on the dot.
    if (const auto left = settings.bounds.msLeft()) {
        options.set(CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<std::uint32_t>(*left, 1)));
    }
    // Without a proxy: neither a configured one nor the environment's http_proxy and friends.
    // This machine is never reached through one, whatever the client's choice.
    if (settings.direct || isLoopbackHost(target.host)) {
        options.set(CURLOPT_PROXY, "").set(CURLOPT_NOPROXY, "*");
    }
    if (!ex.authorityFile.empty() || ex.watch) {
        options.set(CURLOPT_SSL_CTX_FUNCTION, prepareContext).set(CURLOPT_SSL_CTX_DATA, &ex);
    }
    setMethod(options, method, ex.source ? ex.source->size : 0);
    // A small body goes out with the head in one send (read through onRead, it would cost a
    // send of its own); one that cannot be read whole now fails there as any other.
    if (ex.source && ex.source->size > 0 && ex.source->size <= kBodyWithHead) {
        ex.bodyWithHead.resize(static_cast<std::size_t>(ex.source->size));
        if (readWholeBody(*ex.source, ex.bodyWithHead.data())) {
            options.set(CURLOPT_POSTFIELDS, ex.bodyWithHead.data());
        }
    }
    return options.result();
}

// Places a failed transfer on WinHTTP's steps: nothing was sent until the connection and the
// handshake were done, and until the whole body went out; an answer began once the final
// header block ended.
std::string failedStep(CURLcode code, const Exchange& ex, const std::string& host,
                       std::uint64_t bodySize) {
    if (ex.headersDone) return "Reading the response from " + host + " failed";
    if (!ex.connected) return "Could not send request to " + host;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(ex.handle, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    const bool bodyPending = static_cast<std::uint64_t>(uploaded) < bodySize;
    // An abort while the body goes out comes from onRead: its source failed.
    if (bodyPending && (code == CURLE_SEND_ERROR || code == CURLE_OPERATION_TIMEDOUT ||
                        code == CURLE_ABORTED_BY_CALLBACK)) {
        return "Could not send request to " + host;
    }
    return "No response from " + host;
}

// The exchange's own limits come before the step that happened to be under way.
HttpResponse failedTransfer(CURLcode code, const Exchange& ex, const std::string& host,
                            std::uint64_t bodySize) {
    if (ex.stopped) return failure(ExchangeBounds::stoppedSentence(host), code);
    long tunnelStatus = 0;  // the proxy's answer to the CONNECT of an https exchange
    curl_easy_getinfo(ex.handle, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    if (tunnelStatus == 407) return proxySignInRefused();
    const bool timedOut = code == CURLE_OPERATION_TIMEDOUT || ex.stalled;
    if (timedOut && ex.bounds.pastDeadline()) {
        return failure(ex.bounds.deadlineSentence(host), CURLE_OPERATION_TIMEDOUT);
    }
    if (ex.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return failure(ex.bounds.tooLargeSentence(host), CURLE_FILESIZE_EXCEEDED);
    }
    if (ex.stalled) code = CURLE_OPERATION_TIMEDOUT;  // our abort is the time-out striking
    return failure(failedStep(code, ex, host, bodySize), code);
}

// One request and its answer; the Location is kept for a redirect status only. connection,
// when given, receives what was seen while connecting.
HopAnswer sendHop(const HopSettings& settings, const std::string& method, const UrlParts& target,
                  const BodySource* body, ConnectionFacts* connection) {
    const std::string& host = target.host;
    if (settings.bounds.stopSet()) {
        return {failure(ExchangeBounds::stoppedSentence(host), CURLE_ABORTED_BY_CALLBACK), {}};
    }
    if (settings.bounds.pastDeadline()) {
        return {failure(settings.bounds.deadlineSentence(host), CURLE_OPERATION_TIMEDOUT), {}};
    }
    EasyHandle handle(curl_easy_init());
    if (!handle) return {failure("Could not connect to " + host, CURLE_FAILED_INIT), {}};
    Exchange ex(settings.bounds, settings.target, body);
    ex.handle = handle.get();
    ex.silenceLimit = std::chrono::milliseconds(settings.timeoutMs);
    ex.authorityFile = extraAuthority();
    if (connection) ex.watch = std::make_unique<CertificateWatch>();
    CURLcode code = configure(handle.get(), settings, target, method, ex);
    if (code != CURLE_OK) return {failure("Could not open request", code), {}};

    code = curl_easy_perform(handle.get());
    if (ex.fault) std::rethrow_exception(ex.fault);
    if (connection) *connection = connectionFacts(handle.get(), code, target.secure, *ex.watch);
    if (code != CURLE_OK) return {failedTransfer(code, ex, host, body ? body->size : 0), {}};

    HopAnswer answer;
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 407) return {proxySignInRefused(), {}};
    answer.response.ok = true;
    answer.response.status = static_cast<std::uint32_t>(status);
    answer.response.date = std::move(ex.date);
    if (!ex.bodyBegun) ex.target.begin(false, std::nullopt);  // an empty body
    answer.response.body = ex.target.takeKept();
    if (isRedirectStatus(answer.response.status)) answer.location = std::move(ex.location);
    return answer;
}

std::string redirectRefusalText(RedirectRefusal why) {
    return curlErrorText(why == RedirectRefusal::TooMany ? CURLE_TOO_MANY_REDIRECTS
                                                         : CURLE_REMOTE_ACCESS_DENIED);
}

}  // namespace

struct HttpClient::Session {
    bool direct = false;
    std::uint32_t timeoutMs = 0;
    HttpLimits limits;
};

void HttpClient::initialise() {
    initialiseOnce();
}

HttpClient::HttpClient(bool direct, std::uint32_t timeoutMs, HttpLimits limits) {
    if (initialiseOnce() == CURLE_OK) session_.reset(new Session{direct, timeoutMs, limits});
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&& other) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&& other) noexcept = default;

HttpResponse HttpClient::exchange(const std::wstring& method, const std::string& url,
                                  const HttpHeaders& headers, const BodySource& source,
                                  const BodySink* sink, ConnectionFacts* connection) const {
    if (!session_) {
        const CURLcode code = initialiseOnce();
        return failure("WinHTTP is not available", code == CURLE_OK ? CURLE_FAILED_INIT : code);
    }
    const auto parts = splitUrl(url);
    if (!parts) return failure("Invalid URL '" + url + "'", CURLE_URL_MALFORMAT);
    HeaderList list;
    const CURLcode code =
        isHttpToken(toUtf8(method)) ? buildHeaders(headers, list) : CURLE_BAD_FUNCTION_ARGUMENT;
    if (code != CURLE_OK) return failure("Could not open request", code);
    // The same 32-bit limit as the platform's send call, instead of a silently cut body.
    if (source.size > std::numeric_limits<std::uint32_t>::max()) {
        return failure("Could not send request to " + parts->host, CURLE_FILESIZE_EXCEEDED);
    }
    const ExchangeBounds bounds(session_->limits);
    BodyTarget target(bounds, sink);
    const HopSettings settings{session_->direct, session_->timeoutMs, list.get(), bounds, target};
    // The facts are those of the first hop, the connection to the address given.
    const SendHop send = [&settings, &source, &connection](const std::wstring& verb,
                                                           const UrlParts& to, bool withBody) {
        return sendHop(settings, toUtf8(verb), to, withBody ? &source : nullptr,
                       std::exchange(connection, nullptr));
    };
    return followRedirects(method, *parts, send, redirectRefusalText);
}

void trustExtraAuthorityForTesting(const std::string& pemFile) {
    GlobalState& state = global();
    std::lock_guard lock(state.authorityMutex);
    state.extraAuthority = pemFile;
}

}  // namespace tsl
