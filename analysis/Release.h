#pragma once

#include "platform/OsVersion.h"

#include <compare>
#include <cstdint>

namespace quillfen {

// A macOS release as the checks tell releases apart: 10.x is x, 11 is 16 and
// every later release 17, so what each release logs is one comparison. The
// scheduler check alone still tells 12 from later releases, by the major version.
class Release {
public:
    // A code alone stands for the oldest release it covers: 17 is macOS 12.
    constexpr explicit Release(std::int64_t code) : code_(code), major_(code < 16 ? 10 : code - 5) {}
    static constexpr Release of(const OsVersion& version)
    {
        if (version.major == 10)
            return Release(version.minor);
        Release release(version.major == 11 ? 16 : 17);
        release.major_ = version.major;
        return release;
    }

    constexpr std::int64_t code() const { return code_; }
    // Local snapshots are logged, and a completion stands for the backup it created.
    constexpr bool logsSnapshots() const { return code_ > 12; }
    // Each volume backup logs how it found its changes.
    constexpr bool logsBackupMethods() const { return code_ > 14; }
    // "Copied …" still gives the data size of the whole backup.
    constexpr bool logsCopiedData() const { return code_ < 16; }
    // Backups are APFS snapshots, listed by the APFS listing.
    constexpr bool backsUpToAPFS() const { return code_ >= 16; }
    // The system font has monospaced digits of its own from here on.
    constexpr bool hasMonospacedSystemFont() const { return code_ >= 15; }
    // From macOS 13 on, CTS's "DAS told us to run …" is an Info message, kept only in memory and
    // purged as the buffers fill, and no log of 13 or later has shown it: its absence tells nothing.
    constexpr bool keepsCtsRequestBriefly() const { return major_ >= 13; }

    constexpr auto operator<=>(const Release&) const = default;

private:
    std::int64_t code_;
    std::int64_t major_;
};

} // namespace quillfen
