#pragma once

namespace tsl::testing {

// True where the platform's HTTP client is known to take a chunked body that the server cut
// short for a whole one (Wine's WinHTTP: the early end of the connection reads as the end of
// the data, and without a Content-Length nothing tells the two apart). Such a case is skipped
// there, not passed.
bool platformMissesCutChunkedBodies();

// True where the system's proxy can be set for a test through the http_proxy variable (libcurl
// reads it). Windows takes its proxy from automatic discovery and the Internet settings instead;
// Wine's automatic proxy goes direct whatever the variable says (only its default-proxy access
// type reads http_proxy), so the proxied half of a test cannot be shown there.
bool systemProxyFollowsHttpProxyVariable();

}  // namespace tsl::testing
