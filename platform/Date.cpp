#include "platform/Date.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace quillfen {

Date SystemClock::now() const
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(since).count()};
}

long localUtcOffset(Date date)
{
    const auto seconds = static_cast<std::time_t>(std::floor(date.sinceEpoch));
    std::tm local{};
    std::tm utc{};
    if (localtime_r(&seconds, &local) == nullptr || gmtime_r(&seconds, &utc) == nullptr)
        return 0;
    // The two readings of one instant lie less than a day apart, so a new year is one day on.
    const long days = local.tm_year == utc.tm_year ? local.tm_yday - utc.tm_yday : local.tm_year > utc.tm_year ? 1 : -1;
    return ((days * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min) * 60 + local.tm_sec -
           utc.tm_sec;
}

} // namespace quillfen
