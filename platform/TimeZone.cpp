#include "platform/TimeZone.h"

#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace quillfen {

namespace {

bool zoneChosen = false;

bool isZoneNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '+';
}

// "Area/Location" parts of letters, digits, "_", "-" and "+": never a path
// that leaves the database.
bool isZoneName(std::string_view name)
{
    if (name.empty() || name.front() == '/' || name.back() == '/' || name.find("//") != std::string_view::npos)
        return false;
    for (const char c : name) {
        if (c != '/' && !isZoneNameCharacter(c))
            return false;
    }
    return true;
}

// A zone file of the database begins with "TZif".
bool isZoneFile(const std::filesystem::path& path)
{
    std::array<char, 4> magic{};
    std::ifstream file(path, std::ios::binary);
    return std::filesystem::is_regular_file(path) && file.read(magic.data(), magic.size()) &&
           std::string_view(magic.data(), magic.size()) == "TZif";
}

} // namespace

TimeZoneName localTimeZone()
{
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0')
        return {std::string(tz[0] == ':' ? tz + 1 : tz), zoneChosen};
    std::error_code error;
    const std::string link = std::filesystem::read_symlink("/etc/localtime", error).string();
    if (const std::size_t at = link.find("zoneinfo/"); !error && at != std::string::npos)
        return {link.substr(at + 9), false};
    // A copied zone file has no name, only its abbreviation.
    std::array<char, 64> abbreviation{};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(abbreviation.data(), abbreviation.size(), "%Z", &local) == 0)
        return {"UTC", false};
    return {abbreviation.data(), false};
}

bool useTimeZone(std::string_view name)
{
    const char* directory = std::getenv("TZDIR");
    const std::filesystem::path database =
        directory != nullptr && *directory != '\0' ? directory : "/usr/share/zoneinfo";
    if (!isZoneName(name) || !isZoneFile(database / name))
        return false;
    if (::setenv("TZ", std::string(name).c_str(), 1) != 0)
        return false;
    ::tzset();
    zoneChosen = true;
    return true;
}

} // namespace quillfen
