#pragma once

#include <string>

namespace tsl {

struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The local wall-clock time with milliseconds.
LocalTime localTimeNow();

// "YYYY-MM-DD hh:mm:ss.mmm", the log's time stamp.
std::string formatLogStamp(const LocalTime& t);
// "DD-MM-YYYY hh:mm", the last-sync time shown to the user (day first).
std::string formatLastSync(const LocalTime& t);

}  // namespace tsl
