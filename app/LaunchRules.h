#pragma once

#include "platform/Date.h"

#include <string_view>

namespace quillfen {

// The Mac's reference date, 2001-01-01 00:00:00 UTC, in seconds since 1970.
inline constexpr double kReferenceDateSinceEpoch = 978307200.0;

inline double secondsSinceReferenceDate(Date date)
{
    return date.sinceEpoch - kReferenceDateSinceEpoch;
}

// Whether the output of `id -G` holds the admin group, 80, among its blank- or line-separated numbers.
bool listsAdminGroup(std::string_view groupNumbers);

struct UpdateSchedule {
    bool checkNow = false;
    // The interval in force, which launch writes back.
    double interval = 0.0;
};

// Decides from the stored preferences (times in seconds since the reference date)
// whether launch starts an update check.
UpdateSchedule scheduleUpdateCheck(bool noUpdateCheck, double lastCheck, double storedInterval, double now);

} // namespace quillfen
