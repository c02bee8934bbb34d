#pragma once

#include "platform/Process.h"

#include <cstdint>
#include <string_view>

namespace quillfen {

struct OsVersion {
    std::int64_t major = 10;
    std::int64_t minor = 0;
};

// "14.5" or "10.15.7" as major and minor numbers.
OsVersion parseProductVersion(std::string_view text);

// The running system's version, from `/usr/bin/sw_vers -productVersion` (the
// simulated Mac's answer on other systems). A tool that fails gives 10.0.
OsVersion queryOsVersion(const RunTool& runTool);

} // namespace quillfen
