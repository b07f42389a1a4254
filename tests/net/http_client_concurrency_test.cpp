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
    std::atomic<int> whole{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&peer, &whole] {
            const HttpClient client(true, 10000);  // each thread its own client
            for (int i = 0; i < 5; ++i) {
                const std::string body = client.request(L"GET", peer.url("/"), {}, "").body;
                whole += body.size() == 200000 && body.compare(0, 6, "abcabc") == 0 ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(whole.load(), 20);
    EXPECT_EQ(peer.requestCount(), 20u);
}

}  // namespace
}  // namespace tsl
