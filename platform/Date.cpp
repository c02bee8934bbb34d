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
    return localtime_r(&seconds, &local) ? local.tm_gmtoff : 0;
}

} // namespace quillfen
