#include <windows.h>

#include "support/machine_name.h"

#include "support/text.h"

namespace tsl {

std::string machineName() {
    wchar_t name[16] = {};
    DWORD size = 16;
    if (!GetComputerNameW(name, &size) || size == 0) return "Unknown PC";
    return toUtf8(std::wstring(name, size));
}

}  // namespace tsl
