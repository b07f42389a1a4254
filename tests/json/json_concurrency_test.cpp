#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "json/json.h"

namespace {

using tsl::Json;

// Copies of one parsed answer, read and dropped on different threads: only the reference
// counts are shared, and the containers go away exactly once.
TEST(JsonConcurrency, CopiesAreReadAndDroppedOnOtherThreads) {
    const Json answer = Json::parse(R"({"job":{"id":"j1","requests":[{"xml":"<A/>"}]}})");
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([copy = answer] {
            for (int k = 0; k < 1000; ++k) {
                const Json inner = copy.get("job");
                const Json requests = inner.get("requests");
                EXPECT_EQ(requests.items().front().get("xml").stringOr(""), "<A/>");
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(answer.get("job").get("id").stringOr(""), "j1");
}

}  // namespace
