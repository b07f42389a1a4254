#include "net/http_date.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace tsl {

std::optional<std::int64_t> parseHttpDate(std::string_view text) {
    if (text.size() != 29) return std::nullopt;
    const std::string copy(text);
    char weekday[4] = {}, monthName[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(copy.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", weekday, &day,
                    monthName, &year, &hour, &minute, &second, &used) != 7 ||
        used != 29 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* found = std::strstr(kMonths, monthName);
    if (!found || (found - kMonths) % 3 != 0) return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year),
                              month(static_cast<unsigned>((found - kMonths) / 3 + 1)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    return sys_days(date).time_since_epoch().count() * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace tsl
