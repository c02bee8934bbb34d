#include "platform/Volumes.h"

#include <limits>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quillfen {

namespace {

std::string currentDirectory()
{
    std::string buffer(4096, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr)
        return "/";
    buffer.resize(buffer.find('\0'));
    return buffer;
}

} // namespace

std::string StatvfsVolumes::fileURLPath(const std::string& path) const
{
    std::string absolute = !path.empty() && path.front() == '/' ? path : currentDirectory() + "/" + path;
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

std::optional<bool> StatvfsVolumes::supportsVolumeSizes(const std::string& path) const
{
    struct statvfs info {};
    if (::statvfs((root_ + fileURLPath(path)).c_str(), &info) != 0)
        return std::nullopt;
    return info.f_blocks > 0;
}

std::optional<std::int64_t> StatvfsVolumes::availableCapacity(const std::string& path) const
{
    struct statvfs info {};
    if (::statvfs((root_ + fileURLPath(path)).c_str(), &info) != 0)
        return std::nullopt;
    const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(bytes > kMax ? kMax : bytes);
}

} // namespace quillfen
