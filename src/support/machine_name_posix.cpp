#include "support/machine_name.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace tsl {

std::string machineName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "Unknown PC";
    return name;
}

std::string operatingSystem() {
    utsname about{};
    if (uname(&about) != 0) return "Unknown system";
    return std::string(about.sysname) + " " + about.release + " " + about.machine;
}

}  // namespace tsl
