#pragma once

#include "platform/Controls.h"
#include "platform/Date.h"

#include <string>
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

// The alert of the application's own errors, those of no window: at launch and in the update check.
inline Alert appErrorAlert(std::string text)
{
    return Alert{AlertStyle::Critical, "An error occurred:", std::move(text), "OK"};
}

} // namespace quillfen
