#pragma once

// How the WinHTTP transport learns its ConnectionFacts. Windows-only.

#include <windows.h>

#include "net/async_request_winhttp.h"
#include "net/connection_facts.h"

namespace tsl {

// Once the request's send has completed (error 0) or failed (the platform's code): the times
// of the steps its callback noted and, for https, the protocol and the server's certificate as
// far as the platform tells them.
ConnectionFacts connectionFacts(const AsyncRequest& request, bool secure, DWORD error);

}  // namespace tsl
