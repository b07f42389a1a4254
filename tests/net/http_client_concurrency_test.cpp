// Clients on several threads at once, as the sync worker and the connection dialog do: the
// process-wide set-up and the transport's shared state must hold up (run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/sandbox_client.h"
#include "net/http_client.h"

namespace tsl {
namespace {

TEST(HttpClientThreads, ClientsOnSeveralThreadsEachGetTheirAnswers) {
    const testing::SandboxControl sandbox;
    const testing::ScriptedPeer peer(sandbox);
    peer.script(R"({"status":200,"size":200000,"fill":"abc","repeat":true})");
    const std::string url = peer.url("/");
    constexpr int kThreads = 4;
    constexpr int kRequests = 5;
    std::atomic<int> whole{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&url, &whole] {
            const HttpClient client(true, 10000);  // each thread its own client
            for (int i = 0; i < kRequests; ++i) {
                const HttpResponse response = client.request(L"GET", url, {}, "");
                if (response.ok && response.body.size() == 200000 &&
                    response.body.compare(0, 6, "abcabc") == 0) {
                    ++whole;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(whole.load(), kThreads * kRequests);
    EXPECT_EQ(peer.requestCount(), static_cast<std::size_t>(kThreads * kRequests));
}

}  // namespace
}  // namespace tsl
