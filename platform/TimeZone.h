#pragma once

#include <string>
#include <string_view>

namespace quillfen {

// The zone that local times are in.
struct TimeZoneName {
    std::string name; // as the time zone database names it, e.g. "Europe/Berlin"
    bool chosen;      // named by useTimeZone(), not this system's own
};

TimeZoneName localTimeZone();

// Makes the zone that the time zone database calls `name` (such as
// "America/Los_Angeles") this process's local zone, for localUtcOffset() and
// localTimeZone(). It changes the environment, so call it before any thread
// starts. False, and nothing changed, for a name the database does not hold.
bool useTimeZone(std::string_view name);

} // namespace quillfen
