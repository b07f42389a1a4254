#include <sys/time.h>
#include <time.h>

#include "support/local_time.h"

namespace tsl {

LocalTime localTimeNow() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    LocalTime t;
    t.year = static_cast<unsigned>(parts.tm_year + 1900);
    t.month = static_cast<unsigned>(parts.tm_mon + 1);
    t.day = static_cast<unsigned>(parts.tm_mday);
    t.hour = static_cast<unsigned>(parts.tm_hour);
    t.minute = static_cast<unsigned>(parts.tm_min);
    t.second = static_cast<unsigned>(parts.tm_sec);
    t.millisecond = static_cast<unsigned>(now.tv_usec / 1000);
    return t;
}

}  // namespace tsl
