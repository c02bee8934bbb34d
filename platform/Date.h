#pragma once

#include <chrono>
#include <cmath>
#include <compare>

namespace quillfen {

// An instant, as seconds since 1970-01-01 00:00:00 UTC. A double keeps the
// sub-second part of log times and reaches the distant-future sentinel.
struct Date {
    double sinceEpoch = 0.0;

    auto operator<=>(const Date&) const = default;
};

// The platform's distant future: 4001-01-01 00:00:00 UTC, later than any log time.
inline constexpr Date kDistantFuture{64092211200.0};

inline double secondsBetween(Date from, Date to)
{
    return to.sinceEpoch - from.sinceEpoch;
}

// The whole second that holds an instant, for calendar arithmetic.
inline std::chrono::sys_seconds wholeSecond(Date date)
{
    return std::chrono::sys_seconds{std::chrono::seconds{static_cast<long long>(std::floor(date.sinceEpoch))}};
}

class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

class SystemClock final : public Clock {
public:
    Date now() const override;
};

// A clock that stays at one instant: a saved log is read as of its newest entry.
class StoppedClock final : public Clock {
public:
    explicit StoppedClock(Date at) : at_(at) {}
    Date now() const override { return at_; }

private:
    Date at_;
};

// Seconds east of UTC of this system's local time at an instant (the TZ variable honoured).
long localUtcOffset(Date date);

} // namespace quillfen
