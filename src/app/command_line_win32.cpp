#include <windows.h>

#include <shellapi.h>

#include <memory>

#include "app/command_line.h"
#include "support/text.h"

namespace tsl {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

std::vector<std::string> processArguments() {
    int count = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    if (!argv) return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(toUtf8(argv.get()[i]));
    return arguments;
}

}  // namespace tsl
