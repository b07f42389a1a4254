// Peak memory of dumping a result whose body is 64 MB, as a multiple of the body size.
// Run alone (one process per measurement): ru_maxrss is a high-water mark.
#include <cstdio>

#include "bench/bench_data.h"
#include "common/process_memory.h"
#include "json/json.h"

namespace {

long peakKiB() {
    return static_cast<long>(tsl::testing::peakMemoryBytes() / 1024);
}

}  // namespace

int main() {
    constexpr std::size_t kBody = 64u << 20;
    const long before = peakKiB();
    tsl::Json item;
    item.set("body", tsl::Json(tsl::bench::tallyLikeText(kBody))).set("ok", tsl::Json(true));
    tsl::Json result;
    result.set("results", tsl::Json(tsl::Json::Array{std::move(item)}));
    const long withBody = peakKiB();
    const std::string text = result.dump();
    const long after = peakKiB();
    std::printf("body %zu bytes, JSON %zu bytes (capacity %zu)\n", kBody, text.size(),
                text.capacity());
    std::printf("peak above start: %.2f x body (body alone: %.2f x)\n",
                (after - before) * 1024.0 / kBody, (withBody - before) * 1024.0 / kBody);
    return 0;
}
