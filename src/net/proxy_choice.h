#pragma once

#include <string>

namespace tsl {

// Which proxy the transport takes for this URL, told for a person: "direct", or the proxy with
// where the setting comes from, e.g. "http://proxy.corp:3128 (from https_proxy)". Windows: the
// user's automatic configuration (detection or script), then the proxy of Internet Options,
// then the machine's WinHTTP setting; elsewhere libcurl's environment (https_proxy, http_proxy,
// all_proxy and no_proxy). A sign-in written into a proxy address is never shown. Never fails.
std::string proxyChoice(const std::string& url);

// A proxy address without the user name and password it may carry ("http://u:p@h:1" gives
// "http://h:1").
std::string withoutCredentials(const std::string& proxy);

}  // namespace tsl
