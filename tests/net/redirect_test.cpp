#include "net/redirect.h"

#include <gtest/gtest.h>

#include <string>

namespace tsl {
namespace {

TEST(ResolveLocation, LandsWhereBrowsersWould) {
    const UrlParts from = *splitUrl("https://Api.Example:8443/tessaline/api/v1/pair?x=1");
    const std::pair<std::string, std::string> cases[] = {
        {"https://other.example/a", "https://other.example:443/a"},
        {"HTTP://api.example", "http://api.example:80/"},
        {"//cdn.example:9/p", "https://cdn.example:9/p"},
        {"/root?q", "https://Api.Example:8443/root?q"},
        {"next", "https://Api.Example:8443/tessaline/api/v1/next"},
        {"../up", "https://Api.Example:8443/tessaline/api/v1/../up"},
        {"?y=2", "https://Api.Example:8443/tessaline/api/v1/pair?y=2"},
        {"#frag", "https://Api.Example:8443/tessaline/api/v1/pair?x=1"},
        {"/p#frag", "https://Api.Example:8443/p"},
    };
    for (const auto& [location, expected] : cases) {
        SCOPED_TRACE(location);
        const auto to = resolveLocation(from, location);
        ASSERT_TRUE(to.has_value());
        EXPECT_EQ(urlText(*to), expected);
    }
    const std::string unusable[] = {
        "",
        "ftp://api.example/",
        "javascript:alert(1)",
        "http:relative",
        "http://user:pw@api.example/",
        "/with space",
        "/caf\xC3\xA9",
        "http://api.example:0/",
        "/" + std::string(kMaxLocation, 'p'),
    };
    for (const std::string& location : unusable) {
        SCOPED_TRACE(location);
        EXPECT_FALSE(resolveLocation(from, location).has_value());
    }
}

TEST(ResolveLocation, OriginIsSchemeHostInAnyCaseAndPort) {
    const UrlParts base = *splitUrl("http://Host.Example/a");
    EXPECT_TRUE(sameOrigin(base, *splitUrl("HTTP://host.example:80/b")));
    for (const char* other : {"https://host.example:80/", "http://host.example:81/",
                              "http://other.example/", "http://127.0.0.1/"}) {
        EXPECT_FALSE(sameOrigin(base, *splitUrl(other))) << other;
    }
}

TEST(RedirectedRequest, OnlyPostTurnsIntoGetExceptOn303) {
    struct Case {
        std::uint32_t status;
        const wchar_t* method;
        const wchar_t* next;
        bool keepsBody;
    };
    const Case cases[] = {
        {301, L"POST", L"GET", false}, {302, L"POST", L"GET", false}, {303, L"POST", L"GET", false},
        {303, L"PUT", L"GET", false},  {303, L"HEAD", L"HEAD", true}, {302, L"PUT", L"PUT", true},
        {307, L"POST", L"POST", true}, {308, L"POST", L"POST", true},
    };
    for (const Case& c : cases) {
        const RedirectedRequest next = redirectedRequest(c.status, c.method);
        EXPECT_EQ(next.method, c.next) << c.status;
        EXPECT_EQ(next.keepsBody, c.keepsBody) << c.status;
    }
}

}  // namespace
}  // namespace tsl
