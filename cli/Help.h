#pragma once

#include <optional>
#include <string_view>

namespace quillfen::cli {

// The overview of all commands.
std::string_view overviewHelp();

// The manual page of one command, or nothing for an unknown command.
std::optional<std::string_view> commandHelp(std::string_view command);

} // namespace quillfen::cli
