#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "json/json.h"

namespace {

using tsl::Json;

// Several threads make the first reads of the process at once: the shared null and the shared
// empty list come into being once, and every reader gets the same one.
TEST(JsonConcurrency, SharedFallbacksAreMadeOnceOnFirstUse) {
    constexpr int kThreads = 8;
    std::vector<const Json*> nulls(kThreads);
    std::vector<const Json::Array*> lists(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const Json number(1.0);
            nulls[i] = &number.get("x");
            lists[i] = &number.items();
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(nulls[i], nulls[0]);
        EXPECT_TRUE(nulls[i]->isNull());
        EXPECT_EQ(lists[i], lists[0]);
        EXPECT_TRUE(lists[i]->empty());
    }
}

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
