#include "support/local_time.h"

#include <cstdio>

namespace tsl {

std::string formatLogStamp(const LocalTime& t) {
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string formatLastSync(const LocalTime& t) {
    char text[48];
    std::snprintf(text, sizeof(text), "%02u-%02u-%04u %02u:%02u", t.day, t.month, t.year, t.hour,
                  t.minute);
    return text;
}

}  // namespace tsl
