#include "support/machine_name.h"

#include <unistd.h>

namespace tsl {

std::string machineName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "Unknown PC";
    return name;
}

}  // namespace tsl
