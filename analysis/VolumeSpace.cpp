#include "analysis/VolumeSpace.h"

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

std::optional<VolumeSpace> measureVolume(const std::string& path, const VolumeQueries& volumes)
{
    if (!volumes.supportsVolumeSizes(path).value_or(false))
        return std::nullopt;
    const auto available = volumes.availableCapacity(path);
    if (!available)
        return std::nullopt;
    return VolumeSpace{volumes.fileURLPath(path), *available};
}

void measureDestinations(BackupTally& tally, const VolumeQueries& volumes)
{
    for (auto& [text, destination] : tally.destinations)
        if (destination.path)
            destination.space = measureVolume(*destination.path, volumes);
}

} // namespace quillfen
