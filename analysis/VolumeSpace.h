#pragma once

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

// The free-space line for one backup-target message: the marker, a tab, the
// path named after the message's first ": ", " = " and the free space. A
// message without ": " comes back unchanged, and a volume that cannot say its
// free space gives the bare path.
std::string volumeFreeSpaceLine(const std::string& message, const VolumeQueries& volumes);

// The same line for a saved log: this machine's disks say nothing of the Mac
// the log came from, so the path is followed by a note instead.
std::string unmeasuredFreeSpaceLine(const std::string& message);

} // namespace quillfen
