#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace sandbox {

// Serves a bound server on a new thread and returns once it is running. httplib's stop() does
// nothing until the serving thread has marked the server running, so a stop that followed a
// start too closely (Tally switched off and on again at once, on a loaded machine) would leave
// the server up and the join on its thread waiting for ever.
inline std::thread serveOnThread(httplib::Server& server) {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([&server, ended] {
        server.listen_after_bind();
        *ended = true;
    });
    while (!server.is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return thread;
}

}  // namespace sandbox
