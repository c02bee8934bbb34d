#include "platform/InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillfen {

namespace {

using Clock = std::chrono::steady_clock;

bool clearNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) >= 0;
}

} // namespace

InputFile::Opened InputFile::open(const std::string& path, std::chrono::milliseconds writerWait)
{
    struct stat status {};
    if (path == "-") {
        if (::fstat(STDIN_FILENO, &status) != 0)
            return {nullptr, std::strerror(errno)};
        std::optional<std::uint64_t> size;
        if (S_ISREG(status.st_mode)) {
            // Input redirected from a file may start past its beginning.
            const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
            size = static_cast<std::uint64_t>(std::max<off_t>(0, status.st_size - std::max<off_t>(0, at)));
        }
        return {std::unique_ptr<InputFile>(new InputFile(STDIN_FILENO, false, size, false, writerWait)), {}};
    }
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {nullptr, std::strerror(errno)};
    std::unique_ptr<InputFile> file;
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return {nullptr, std::strerror(error)};
    }
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        return {nullptr, std::strerror(EISDIR)};
    }
    const bool fifo = S_ISFIFO(status.st_mode);
    if (!fifo && !clearNonBlocking(fd)) {
        const int error = errno;
        ::close(fd);
        return {nullptr, std::strerror(error)};
    }
    std::optional<std::uint64_t> size;
    if (S_ISREG(status.st_mode))
        size = static_cast<std::uint64_t>(status.st_size);
    return {std::unique_ptr<InputFile>(new InputFile(fd, true, size, fifo, writerWait)), {}};
}

bool InputFile::isDirectory(const std::string& path)
{
    struct stat status {};
    return path != "-" && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

InputFile::InputFile(int fd, bool owned, std::optional<std::uint64_t> size, bool waitForWriter,
                     std::chrono::milliseconds writerWait)
    : fd_(fd), owned_(owned), size_(size), remaining_(size), waitForWriter_(waitForWriter), writerWait_(writerWait)
{
}

InputFile::~InputFile()
{
    if (owned_)
        ::close(fd_);
}

std::size_t InputFile::fail(std::string why)
{
    failure_ = std::move(why);
    return 0;
}

std::size_t InputFile::read(std::span<char> buffer)
{
    if (failure_ || buffer.empty())
        return 0;
    if (remaining_)
        buffer = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(*remaining_, buffer.size())));
    if (buffer.empty())
        return 0;
    const auto deadline = Clock::now() + writerWait_;
    for (;;) {
        const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
        if (count > 0) {
            bytesRead_ += static_cast<std::uint64_t>(count);
            if (remaining_)
                *remaining_ -= static_cast<std::uint64_t>(count);
            if (waitForWriter_) {
                waitForWriter_ = false;
                if (!clearNonBlocking(fd_))
                    return fail(std::strerror(errno));
            }
            return static_cast<std::size_t>(count);
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (waitForWriter_ && count < 0 && errno == EAGAIN) {
            // A writer is there and has not written yet: from now on reading may wait for it.
            waitForWriter_ = false;
            if (!clearNonBlocking(fd_))
                return fail(std::strerror(errno));
            continue;
        }
        if (count < 0)
            return fail(std::strerror(errno));
        if (!waitForWriter_)
            return 0;
        // A FIFO that no program has opened for writing yet reads as empty.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd watch{fd_, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&watch, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno != EINTR)
            return fail(std::strerror(errno));
        if (ready == 0) {
            const auto seconds = (writerWait_.count() + 999) / 1000;
            return fail("no program wrote to it within " + std::to_string(seconds) +
                        (seconds == 1 ? " second" : " seconds"));
        }
        if ((watch.revents & POLLIN) == 0 && (watch.revents & POLLHUP) != 0) {
            // A writer came and went without writing: an empty input.
            waitForWriter_ = false;
            return 0;
        }
    }
}

} // namespace quillfen
