#include <fstream>
#include <iterator>

#include "app/command_line.h"

namespace tsl {

std::vector<std::string> processArguments() {
    // The kernel keeps the arguments as zero-terminated strings, one after the other.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::size_t start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find('\0', start);
        const std::size_t stop = end == std::string::npos ? all.size() : end;
        arguments.push_back(all.substr(start, stop - start));
        start = stop + 1;
    }
    return arguments;
}

}  // namespace tsl
