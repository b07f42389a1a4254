#include "net/async_request_winhttp.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace tsl {

namespace {

constexpr DWORD kSliceMs = 250;

}  // namespace

struct AsyncRequest::Context {
    KernelHandle completed;  // auto-reset: one completion per operation
    std::mutex mutex;
    DWORD status = 0;
    DWORD error = 0;
    DWORD count = 0;
    // The owner and, once the callback is set, WinHTTP: whoever lets go last frees the
    // context. Only this count is touched on the way out, never the mutex, which the other
    // side could otherwise be destroying while this one still unlocks it.
    std::atomic<int> holders{1};
    ConnectionSteps steps;
    std::wstring headers;
    std::vector<char> buffer = std::vector<char>(kBufferSize);
};

// The steps of connecting are noted, not awaited: false for any other status.
bool AsyncRequest::noteStep(Context& context, DWORD status, LPVOID info, DWORD length) {
    ConnectionSteps& steps = context.steps;
    ConnectionSteps::Time* time = nullptr;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_RESOLVING_NAME:
            time = &steps.resolving;
            break;
        case WINHTTP_CALLBACK_STATUS_NAME_RESOLVED:
            time = &steps.resolved;
            break;
        case WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER:
            time = &steps.connecting;
            break;
        case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
            time = &steps.connected;
            break;
        case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
            time = &steps.sending;
            break;
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
            break;
        default:
            return false;
    }
    std::lock_guard lock(context.mutex);
    if (time && !*time) *time = std::chrono::steady_clock::now();
    if (!time && info && length >= sizeof(DWORD)) steps.secureFailure |= *static_cast<DWORD*>(info);
    return true;
}

// Runs on WinHTTP's threads (or inside a call on ours); never throws.
void CALLBACK AsyncRequest::onStatus(HINTERNET, DWORD_PTR user, DWORD status, LPVOID info,
                                     DWORD length) {
    auto* context = reinterpret_cast<Context*>(user);
    if (!context) return;
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        // WinHTTP's last word for the handle.
        if (context->holders.fetch_sub(1) == 1) delete context;
        return;
    }
    if (noteStep(*context, status, info, length)) return;
    DWORD error = 0;
    DWORD count = 0;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            count = info && length >= sizeof(DWORD) ? *static_cast<DWORD*>(info) : 0;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            count = length;
            break;
        case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
            count = info && length >= sizeof(DWORD) ? *static_cast<DWORD*>(info) : 0;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            error = info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError
                         : ERROR_WINHTTP_INTERNAL_ERROR;
            break;
        default:
            return;
    }
    {
        std::lock_guard lock(context->mutex);
        context->status = status;
        context->error = error;
        context->count = count;
    }
    SetEvent(context->completed.get());
}

AsyncRequest::AsyncRequest() = default;

AsyncRequest::~AsyncRequest() {
    request_.reset();  // cancels what is pending; the callbacks that follow still find it
    Context* context = context_.release();
    if (context && context->holders.fetch_sub(1) == 1) delete context;
}

bool AsyncRequest::open(HINTERNET connection, const wchar_t* method, const wchar_t* path,
                        bool secure) {
    auto context = std::make_unique<Context>();
    context->completed.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!context->completed) return false;
    context_ = std::move(context);
    request_.reset(WinHttpOpenRequest(connection, method, path, nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request_) return false;
    // The context travels with the handle from now on, so that even a request closed before
    // it was sent reports its closing.
    auto value = reinterpret_cast<DWORD_PTR>(context_.get());
    if (!WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof(value))) {
        return false;
    }
    constexpr DWORD kNotifications =
        WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
        WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
        WINHTTP_CALLBACK_STATUS_SENDING_REQUEST | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;
    if (WinHttpSetStatusCallback(request_.get(), onStatus, kNotifications, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        return false;
    }
    context_->holders.store(2);  // WinHTTP now holds it too, until HANDLE_CLOSING
    return true;
}

bool AsyncRequest::send(const std::wstring& headerBlock, DWORD totalLength, DWORD withHead) {
    context_->headers = headerBlock;
    const std::wstring& headers = context_->headers;
    withHead = std::min(withHead, kBufferSize);
    return WinHttpSendRequest(request_.get(),
                              headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                              headers.empty() ? 0 : static_cast<DWORD>(-1),
                              withHead > 0 ? context_->buffer.data() : WINHTTP_NO_REQUEST_DATA,
                              withHead, totalLength, reinterpret_cast<DWORD_PTR>(context_.get()));
}

char* AsyncRequest::writeBuffer() {
    return context_->buffer.data();
}

bool AsyncRequest::write(DWORD size) {
    return WinHttpWriteData(request_.get(), context_->buffer.data(), std::min(size, kBufferSize),
                            nullptr);
}

bool AsyncRequest::read(DWORD size) {
    return WinHttpReadData(request_.get(), context_->buffer.data(), std::min(size, kBufferSize),
                           nullptr);
}

const char* AsyncRequest::buffer() const {
    return context_->buffer.data();
}

ConnectionSteps AsyncRequest::steps() const {
    std::lock_guard lock(context_->mutex);
    return context_->steps;
}

Completion AsyncRequest::await(DWORD expected, const ExchangeBounds& bounds) {
    Completion result;
    for (;;) {
        DWORD slice = kSliceMs;
        if (const auto left = bounds.msLeft()) slice = std::min<DWORD>(slice, *left);
        if (WaitForSingleObject(context_->completed.get(), slice) == WAIT_OBJECT_0) break;
        if (bounds.stopRequested()) {
            result.outcome = Completion::Outcome::Stopped;
            return result;
        }
        if (bounds.pastDeadline()) {
            result.outcome = Completion::Outcome::PastDeadline;
            return result;
        }
    }
    std::lock_guard lock(context_->mutex);
    if (context_->status == expected) {
        result.outcome = Completion::Outcome::Done;
        result.count = context_->count;
    } else {
        result.error = context_->error ? context_->error : ERROR_WINHTTP_INTERNAL_ERROR;
    }
    return result;
}

}  // namespace tsl
