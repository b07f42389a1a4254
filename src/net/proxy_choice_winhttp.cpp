#include <windows.h>

#include <winhttp.h>

#include "net/proxy_choice.h"
#include "net/url_parts.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

namespace {

// The strings WinHTTP hands over are the caller's to free with GlobalFree.
struct GlobalText {
    LPWSTR text = nullptr;
    ~GlobalText() {
        if (text) GlobalFree(text);
    }
    GlobalText() = default;
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
    std::string utf8() const { return text ? withoutCredentials(toUtf8(text)) : std::string(); }
};

struct ProxyInfo {
    DWORD accessType = 0;
    GlobalText proxy, bypass;
};

// What the automatic configuration (detection, a script) picks; "" when there is none.
std::string automatic(const std::wstring& url, BOOL detect, LPCWSTR script) {
    const InternetHandle session(WinHttpOpen(L"proxy lookup", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return {};
    WinHttpSetTimeouts(session.get(), 5000, 5000, 5000, 5000);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags =
        (detect ? WINHTTP_AUTOPROXY_AUTO_DETECT : 0) | (script ? WINHTTP_AUTOPROXY_CONFIG_URL : 0);
    options.dwAutoDetectFlags =
        detect ? WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A : 0;
    options.lpszAutoConfigUrl = script;
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO raw{};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &raw)) return {};
    ProxyInfo info;
    info.accessType = raw.dwAccessType;
    info.proxy.text = raw.lpszProxy;
    info.bypass.text = raw.lpszProxyBypass;
    return info.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.proxy.text
               ? info.proxy.utf8() + " (automatic configuration)"
               : "direct (automatic configuration)";
}

}  // namespace

std::string proxyChoice(const std::string& url) {
    const auto parts = splitUrl(url);
    if (!parts || isLoopbackHost(parts->host)) return "direct";
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    const bool user = WinHttpGetIEProxyConfigForCurrentUser(&raw);
    GlobalText script, proxy, bypass;
    script.text = raw.lpszAutoConfigUrl;
    proxy.text = raw.lpszProxy;
    bypass.text = raw.lpszProxyBypass;
    if (user && (raw.fAutoDetect || script.text)) {
        const std::string picked = automatic(fromUtf8(url), raw.fAutoDetect, script.text);
        if (!picked.empty()) return picked;
    }
    if (user && proxy.text) {
        return proxy.utf8() + " (Internet Options" +
               (bypass.text ? ", except " + bypass.utf8() : std::string()) + ")";
    }
    WINHTTP_PROXY_INFO machine{};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        ProxyInfo info;
        info.accessType = machine.dwAccessType;
        info.proxy.text = machine.lpszProxy;
        info.bypass.text = machine.lpszProxyBypass;
        if (info.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.proxy.text) {
            return info.proxy.utf8() + " (the machine's WinHTTP setting)";
        }
    }
    return "direct";
}

}  // namespace tsl
