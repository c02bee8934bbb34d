#include "analysis/VolumeSpace.h"

#include "analysis/Formatting.h"

namespace quillfen {

std::string_view freeSpaceMarker(std::int64_t freeBytes)
{
    if (freeBytes > 49'999'999'999)
        return "\u2705";
    if (freeBytes > 9'999'999'999)
        return "\u26A0\uFE0F";
    return "\u26D4\uFE0F";
}

std::optional<std::string> backupTargetPath(std::string_view message)
{
    constexpr std::string_view kSeparator = ": ";
    const std::size_t first = message.find(kSeparator);
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t start = first + kSeparator.size();
    const std::size_t second = message.find(kSeparator, start);
    return std::string(
        message.substr(start, second == std::string_view::npos ? std::string_view::npos : second - start));
}

std::string volumeFreeSpaceLine(const std::string& message, const VolumeQueries& volumes)
{
    const auto target = backupTargetPath(message);
    if (!target)
        return message;
    const std::string& path = *target;

    if (volumes.supportsVolumeSizes(path).value_or(false) == false)
        return path;
    const auto available = volumes.availableCapacity(path);
    if (!available)
        return path;
    return std::string(freeSpaceMarker(*available)) + "\t" + volumes.fileURLPath(path) + " = " +
           formatByteCountFile(*available);
}

std::string unmeasuredFreeSpaceLine(const std::string& message)
{
    const auto target = backupTargetPath(message);
    return target ? *target + ": free space not measured for a saved log" : message;
}

} // namespace quillfen
