#include "app/LaunchRules.h"

namespace quillfen {

namespace {

constexpr std::string_view kSeparators = " \t\r\n";

} // namespace

bool listsAdminGroup(std::string_view groupNumbers)
{
    std::size_t start = groupNumbers.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const std::size_t end = groupNumbers.find_first_of(kSeparators, start);
        if (groupNumbers.substr(start, end - start) == "80")
            return true;
        start = groupNumbers.find_first_not_of(kSeparators, end);
    }
    return false;
}

} // namespace quillfen
