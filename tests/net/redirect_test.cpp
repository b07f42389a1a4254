#include "net/redirect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
        {"v2/a:b", "https://Api.Example:8443/tessaline/api/v1/v2/a:b"},
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
    for (const char* location :
         {"", "ftp://api.example/", "javascript:alert(1)", "http:relative",
          "http://user:pw@api.example/", "/with space", "/caf\xC3\xA9", "http://api.example:0/"}) {
        EXPECT_FALSE(resolveLocation(from, location).has_value()) << location;
    }
    EXPECT_FALSE(resolveLocation(from, "/" + std::string(kMaxLocation, 'p')).has_value());
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

// A POST of "b" to http://H:1/d/s whose answers are 302s to the locations in turn ("-": none),
// then 200. The origin is scheme, host in any case and port. The transcript: each hop as "METHOD
// url body;", then the status that came back or the failure.
TEST(FollowRedirects, WithinTheOriginAtMostFiveTimes) {
    const auto hops = [](int n, const std::string& hop) {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += hop;
        return text;
    };
    const std::string first = "POST http://H:1/d/s b;";
    const std::string refused = "Refused the redirect (HTTP 302) from H to ";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"n", "//h:1/x?q#f"}, first + "GET http://H:1/d/n ;GET http://h:1/x?q ;200"},
        {{"-"}, first + "302"},
        {{"http://H:2/"}, first + refused + "another server, http://H:2: other"},
        {{"http://G:1/"}, first + refused + "another server, http://G:1: other"},
        {{"https://H:1/"}, first + refused + "another server, https://H:1: other"},
        {{"ftp://H:1/"}, first + refused + "an address that cannot be used: other"},
        {std::vector<std::string>(5, "/a"), first + hops(5, "GET http://H:1/a ;") + "200"},
        {std::vector<std::string>(6, "/a"),
         first + hops(5, "GET http://H:1/a ;") + "Too many redirects from H: too many"},
    };
    for (const auto& [locations, expected] : cases) {
        std::string transcript;
        const SendHop send = [&](const std::wstring& method, const UrlParts& to, bool body) {
            const auto hop =
                static_cast<std::size_t>(std::count(transcript.begin(), transcript.end(), ';'));
            transcript += std::string(method.begin(), method.end()) + " " + urlText(to) + " " +
                          (body ? "b" : "") + ";";
            HopAnswer answer{{true, hop < locations.size() ? 302u : 200u, "", "", ""},
                             std::nullopt};
            if (hop < locations.size() && locations[hop] != "-") answer.location = locations[hop];
            return answer;
        };
        const HttpResponse response = followRedirects(
            L"POST", *splitUrl("http://H:1/d/s"), send, [](RedirectRefusal why) -> std::string {
                return why == RedirectRefusal::TooMany ? "too many" : "other";
            });
        EXPECT_EQ(transcript + (response.ok ? std::to_string(response.status) : response.error),
                  expected);
    }
}

}  // namespace
}  // namespace tsl
