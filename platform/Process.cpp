#include "platform/Process.h"

#include "platform/RunningTools.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillfen {

namespace {

class Pipe {
public:
    Pipe()
    {
        // Close-on-exec keeps concurrent spawns from inheriting each other's write
        // ends, which would hold a reader's end-of-file back until the sibling exits.
        if (::pipe2(fds_, O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
#ifdef F_SETPIPE_SZ
        // Best effort: a 1 MiB pipe instead of 64 KiB means a sixteenth of the
        // wake-ups when reading a large log.
        ::fcntl(fds_[0], F_SETPIPE_SZ, 1 << 20);
#endif
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const
    {
        return fds_[0] >= 0;
    }
    int readEnd() const
    {
        return fds_[0];
    }
    int writeEnd() const
    {
        return fds_[1];
    }
    void closeRead()
    {
        closeFd(fds_[0]);
    }
    void closeWrite()
    {
        closeFd(fds_[1]);
    }

private:
    static void closeFd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

void readToEnd(int fd, OutputSink& out)
{
    for (;;) {
        const std::span<char> space = out.space();
        const ssize_t got = ::read(fd, space.data(), space.size());
        if (got > 0) {
            out.commit(static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            return;
        }
    }
}

std::int32_t waitForExit(pid_t pid)
{
    int status = 0;
    if (reapKnownTool(pid, status) < 0)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return status;
}

std::string failureText(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

} // namespace

std::span<char> TextOutput::space()
{
    text_.resize(used_ + 4096);
    return {text_.data() + used_, text_.size() - used_};
}

void TextOutput::commit(std::size_t count)
{
    used_ += count;
}

void writeOutput(OutputSink* output, std::string_view bytes)
{
    while (output != nullptr && !bytes.empty()) {
        const std::span<char> space = output->space();
        const std::size_t count = std::min(space.size(), bytes.size());
        std::memcpy(space.data(), bytes.data(), count);
        bytes.remove_prefix(count);
        output->commit(count);
    }
}

ToolResult spawnTool(const std::string& path, const std::vector<std::string>& args, OutputSink* output)
{
    ToolResult result;
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    std::optional<Pipe> pipe;
    if (output != nullptr) {
        pipe.emplace();
        if (!pipe->ok()) {
            result.launchFailure = failureText(path, errno);
            return result;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipe)
        posix_spawn_file_actions_adddup2(&actions, pipe->writeEnd(), STDOUT_FILENO);

    pid_t pid = 0;
    const int error = spawnKnownTool(pid, path.c_str(), &actions, argv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        result.launchFailure = failureText(path, error);
        return result;
    }

    if (pipe) {
        pipe->closeWrite();
        readToEnd(pipe->readEnd(), *output);
        pipe->closeRead();
    }
    result.terminationStatus = waitForExit(pid);
    return result;
}

ToolPaths ToolPaths::fromEnvironment()
{
#ifdef __APPLE__
    return ToolPaths("");
#else
    if (const char* root = std::getenv("QUILLFEN_TOOL_ROOT"); root != nullptr && *root != '\0')
        return ToolPaths(root);
    return ToolPaths(QUILLFEN_DEFAULT_TOOL_ROOT);
#endif
}

RunTool makeRunTool(ToolPaths paths)
{
    return [paths = std::move(paths)](const std::string& path, const std::vector<std::string>& args,
                                      OutputSink* output) { return spawnTool(paths.resolve(path), args, output); };
}

} // namespace quillfen
