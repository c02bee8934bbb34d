#pragma once

#include "analysis/Tally.h"
#include "platform/Volumes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// "✅", "⚠️" or "⛔️" for a volume's free bytes (decimal thresholds of 50 GB and 10 GB).
std::string_view freeSpaceMarker(std::int64_t freeBytes);

// The path a backup-target message names: the text after its first ": ", up
// to the next one; nothing when it has no ": ".
std::optional<std::string> backupTargetPath(std::string_view message);

// The free space of the volume that holds `path`; nothing when the volume cannot say.
std::optional<VolumeSpace> measureVolume(const std::string& path, const VolumeQueries& volumes);

// Measures each destination's volume once, for the report and every other output.
void measureDestinations(BackupTally& tally, const VolumeQueries& volumes);

} // namespace quillfen
