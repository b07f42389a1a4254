#include <csignal>

#include "app/run_modes.h"

int main() {
    // A closed output (`--once | head -c 1`) must not end the process in the middle of a pass:
    // with SIGPIPE ignored a write there fails with EPIPE, which the C library's printing and
    // the log's echo already take as a lost line. Sockets get EPIPE the same way.
    std::signal(SIGPIPE, SIG_IGN);
    return tsl::runApplication();
}
