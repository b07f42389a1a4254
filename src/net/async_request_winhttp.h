#pragma once

// One asynchronous WinHTTP request handle with its callback context. Windows-only.

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "net/exchange_bounds.h"
#include "support/win32_handles.h"

namespace tsl {

// How the wait for one operation ended.
struct Completion {
    enum class Outcome { Done, Failed, Stopped, PastDeadline };
    Outcome outcome = Outcome::Failed;
    DWORD error = 0;  // when Failed: the platform's code
    DWORD count = 0;  // when Done: bytes available, read or written
};

// When the platform reported each step of connecting (no value: not reported), and the flags
// of a secure failure (WINHTTP_CALLBACK_STATUS_FLAG_*), as the callback noted them.
struct ConnectionSteps {
    using Time = std::optional<std::chrono::steady_clock::time_point>;
    Time resolving, resolved, connecting, connected, sending;
    DWORD secureFailure = 0;
};

// Owns a request handle of an asynchronous session and the context its status callback
// writes into. Start one operation, then await() its completion; never two at a time. The
// waits come in slices of at most 250 ms that also watch the stop flag and the deadline, so
// either ends a wait within a slice.
// Whatever WinHTTP may still touch after the owner has gone (the context, the header block,
// the buffer that every byte of the body passes through) lives in the context, which is freed
// by whichever lets go of it last: the owner's destructor or WinHTTP's last callback for the
// handle (HANDLE_CLOSING). So an abandoned request never blocks its owner
// (closing a handle does not cut a pending receive short everywhere) and never writes into
// freed memory.
class AsyncRequest {
  public:
    AsyncRequest();
    ~AsyncRequest();
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    // Opens the request on the connection; false (and GetLastError) when it cannot.
    bool open(HINTERNET connection, const wchar_t* method, const wchar_t* path, bool secure);
    HINTERNET handle() const { return request_.get(); }

    // WinHttpSendRequest with a copy of the header block and the first withHead bytes of the
    // body, put in writeBuffer() before; the rest of its totalLength bytes follows through
    // write(). False (and GetLastError) when refused.
    bool send(const std::wstring& headerBlock, DWORD totalLength, DWORD withHead = 0);
    // Where the next up to kBufferSize bytes of the body are put before write(size) starts
    // writing them; false when refused.
    char* writeBuffer();
    bool write(DWORD size);
    // Starts reading up to kBufferSize bytes into buffer(); false when refused.
    bool read(DWORD size);
    const char* buffer() const;
    static constexpr DWORD kBufferSize = 256 * 1024;

    // Waits for the operation just started to report `expected` (a WINHTTP_CALLBACK_STATUS_
    // *_COMPLETE, HEADERS_AVAILABLE or DATA_AVAILABLE).
    Completion await(DWORD expected, const ExchangeBounds& bounds);

    // The steps of connecting reported so far.
    ConnectionSteps steps() const;

  private:
    struct Context;
    static bool noteStep(Context& context, DWORD status, LPVOID info, DWORD length);
    static void CALLBACK onStatus(HINTERNET handle, DWORD_PTR user, DWORD status, LPVOID info,
                                  DWORD length);

    std::unique_ptr<Context> context_;
    InternetHandle request_;
};

}  // namespace tsl
