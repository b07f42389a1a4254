// Measures, for one URL: the peak memory one exchange costs against the body's size, and the
// throughput of repeated exchanges. A measurement for people, not a test; see
// measure_transfer.sh, which sets up the peer and compares with the curl command.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/process_memory.h"
#include "net/http_client.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_net_transfer URL [repetitions]\n");
        return 2;
    }
    const std::string url = argv[1];
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
    const tsl::HttpClient client(true, 30000);
    const double mib = 1024.0 * 1024.0;

    const std::size_t before = tsl::testing::peakMemoryBytes();
    std::size_t size = 0;
    {
        const tsl::HttpResponse response = client.request(L"GET", url, {}, "");
        if (!response.ok) {
            std::fprintf(stderr, "%s\n", response.error.c_str());
            return 1;
        }
        size = response.body.size();
    }
    const std::size_t after = tsl::testing::peakMemoryBytes();
    std::printf("body %.1f MiB, peak memory grew by %.1f MiB (%.2f x the body)\n", size / mib,
                (after - before) / mib, size ? double(after - before) / double(size) : 0.0);

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repetitions; ++i) {
        if (!client.request(L"GET", url, {}, "").ok) return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d exchanges in %.2f s: %.0f MiB/s\n", repetitions, seconds,
                repetitions * (size / mib) / seconds);
    return 0;
}
