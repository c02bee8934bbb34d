#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// The LaunchAgent that opens Quillfen in the menu bar at login: a property list in the user's
// ~/Library/LaunchAgents, which launchd reads at each login.
std::string launchAgentPath(std::string_view home);
std::string launchAgentPlist(std::string_view program);

bool opensAtLogin(std::string_view home);
// Writes the LaunchAgent for `program` (atomically: never half-written) or removes it; returns why
// that failed, or nothing.
std::optional<std::string> setOpenAtLogin(std::string_view home, std::string_view program, bool open);

} // namespace quillfen
