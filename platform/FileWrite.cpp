#include "platform/FileWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillfen {

namespace {

std::optional<std::string> writeAll(int descriptor, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(descriptor, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return std::strerror(errno);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

// A device or a pipe is written as it is, never replaced by a file. Opened
// without waiting, so a pipe that no one reads is refused rather than waited for.
std::optional<std::string> writeInPlace(const std::string& path, std::string_view data)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return std::strerror(errno);
    std::optional<std::string> failure;
    if (::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0)
        failure = std::strerror(errno);
    if (!failure)
        failure = writeAll(descriptor, data);
    if (::close(descriptor) != 0 && !failure)
        failure = std::strerror(errno);
    return failure;
}

} // namespace

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view data,
                                               std::optional<unsigned> mode)
{
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return writeInPlace(path, data);
    const std::size_t slash = path.rfind('/');
    // A short name beside the target, which fits wherever the target's name does.
    std::string temporary = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".qf.XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0)
        return std::strerror(errno);
    // A new file gets the permissions asked for or those the user's umask gives, not mkstemp's private ones.
    if (!mode) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::optional<std::string> failure = writeAll(descriptor, data);
    if (!failure && ::fchmod(descriptor, static_cast<mode_t>(*mode)) != 0)
        failure = std::strerror(errno);
    // On disk before the rename, so a crash leaves the old file or the whole new one.
    if (!failure && ::fsync(descriptor) != 0)
        failure = std::strerror(errno);
    if (::close(descriptor) != 0 && !failure)
        failure = std::strerror(errno);
    if (!failure && std::rename(temporary.c_str(), path.c_str()) != 0)
        failure = std::strerror(errno);
    if (failure) {
        ::unlink(temporary.c_str());
        return failure;
    }
    // The rename itself lasts once the folder is on disk; a folder that cannot be opened keeps it anyway.
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); folderDescriptor >= 0) {
        ::fsync(folderDescriptor);
        ::close(folderDescriptor);
    }
    return std::nullopt;
}

} // namespace quillfen
