#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillfen {

// File-system questions about the volume that holds a path.
class VolumeQueries {
public:
    virtual ~VolumeQueries() = default;
    // The path as a file URL reads it back: absolute, without a trailing slash.
    virtual std::string fileURLPath(const std::string& path) const = 0;
    // Whether the volume reports its sizes; no value when the query fails.
    virtual std::optional<bool> supportsVolumeSizes(const std::string& path) const = 0;
    // Bytes available to the user; no value when the query fails.
    virtual std::optional<std::int64_t> availableCapacity(const std::string& path) const = 0;
};

// statvfs on the path, looked up below `root` (the simulated Mac's root on
// systems other than macOS, empty on the Mac itself).
class StatvfsVolumes final : public VolumeQueries {
public:
    explicit StatvfsVolumes(std::string root) : root_(std::move(root)) {}

    std::string fileURLPath(const std::string& path) const override;
    std::optional<bool> supportsVolumeSizes(const std::string& path) const override;
    std::optional<std::int64_t> availableCapacity(const std::string& path) const override;

private:
    std::string root_;
};

} // namespace quillfen
