#pragma once

#include "platform/Process.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

struct OsVersion {
    std::int64_t major = 10;
    std::int64_t minor = 0;
};

// The running system's version, or why it could not be read.
struct SystemVersion {
    SystemVersion(OsVersion known) : version(known) {}
    static SystemVersion unknown(std::string why)
    {
        SystemVersion unread;
        unread.failure = std::move(why);
        return unread;
    }

    std::optional<OsVersion> version;
    std::string failure; // for the user, when there is no version
    bool named = false;  // named by the user for a log of another Mac, not read from this one

private:
    SystemVersion() = default;
};

// "14.5" or "10.15.7" (a line end may follow) as major and minor numbers; nothing
// for any other text or for a major version below 10.
std::optional<OsVersion> parseProductVersion(std::string_view text);

// The running system's version, from `/usr/bin/sw_vers -productVersion` (the
// simulated Mac's answer on other systems).
SystemVersion queryOsVersion(const RunTool& runTool);

} // namespace quillfen
