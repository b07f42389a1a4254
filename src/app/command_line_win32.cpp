#include <windows.h>

#include <shellapi.h>

#include "app/command_line.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

std::vector<std::string> processArguments() {
    int count = 0;
    const LocalMemory<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    if (!argv) return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(toUtf8(argv.get()[i]));
    return arguments;
}

}  // namespace tsl
