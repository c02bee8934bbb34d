#include "platform/Process.h"

#include "platform/RunningTools.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillfen {

namespace {

class Pipe {
public:
    Pipe()
    {
        if (!openPipe(fds_)) {
            fds_[0] = fds_[1] = -1;
            return;
        }
#if defined(F_SETPIPE_SZ) && !defined(QUILLFEN_POSIX_ONLY)
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

using Clock = std::chrono::steady_clock;

// How often a quiet pipe is checked for a tool that has exited, and how long a
// tool may take to end after SIGTERM before SIGKILL.
constexpr std::chrono::milliseconds kQuietCheck(100);
constexpr std::chrono::milliseconds kTermGrace(2000);

bool hasExited(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

int pollMilliseconds(Clock::duration wait)
{
    return static_cast<int>(std::max<std::int64_t>(
        0, std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(wait, kQuietCheck)).count()));
}

enum class Stop { AtEnd, LeftBehind, Deadline, OutputLimit, Refused };

// Reads the tool's output until its end. The end is also reached when the
// tool has exited and the pipe has stayed quiet since: whatever still holds
// the pipe then is something the tool left behind.
Stop readToEnd(int fd, pid_t pid, OutputSink& out, const ToolLimits& limits, Clock::time_point deadline)
{
    std::uint64_t total = 0;
    bool exited = false;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Stop::Deadline;
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, pollMilliseconds(deadline - now));
        if (polled < 0 && errno != EINTR)
            return Stop::AtEnd;
        if (polled == 0) {
            if (exited)
                return Stop::LeftBehind;
            exited = hasExited(pid);
        }
        if (polled <= 0)
            continue;
        const std::span<char> space = out.space();
        const ssize_t got = ::read(fd, space.data(), space.size());
        if (got > 0) {
            total += static_cast<std::uint64_t>(got);
            if (total > limits.outputBytes)
                return Stop::OutputLimit;
            out.commit(static_cast<std::size_t>(got));
            if (out.refusesMore())
                return Stop::Refused;
            exited = false;
        } else if (got == 0 || errno != EINTR) {
            return Stop::AtEnd;
        }
    }
}

// Waits for the tool until the deadline; false when it is still running then.
// Checks often at first: most tools exit right after closing their output.
bool waitUntil(pid_t pid, Clock::time_point deadline)
{
    for (std::chrono::milliseconds pause(1); !hasExited(pid); pause = std::min(2 * pause, kQuietCheck)) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        ::poll(nullptr, 0, pollMilliseconds(std::min<Clock::duration>(pause, deadline - now)));
    }
    return true;
}

// Ends the tool's process group: the tool is asked first, then made to.
void endGroup(pid_t pid)
{
    ::kill(-pid, SIGTERM);
    waitUntil(pid, Clock::now() + kTermGrace);
    ::kill(-pid, SIGKILL);
}

std::string durationText(std::chrono::milliseconds duration)
{
    if (duration.count() % 1000 != 0)
        return std::to_string(duration.count()) + " milliseconds";
    const auto seconds = duration.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

void setExit(ToolResult& result, pid_t pid)
{
    int status = 0;
    if (reapKnownTool(pid, status) < 0)
        result.terminationStatus = -1;
    else if (WIFEXITED(status))
        result.terminationStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.killedBySignal = WTERMSIG(status);
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

ToolResult spawnTool(const std::string& path, const std::vector<std::string>& args, OutputSink* output,
                     const ToolLimits& limits)
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

    const Clock::time_point deadline = Clock::now() + limits.timeout;
    Stop stop = Stop::AtEnd;
    if (pipe) {
        pipe->closeWrite();
        stop = readToEnd(pipe->readEnd(), pid, *output, limits, deadline);
        pipe->closeRead();
    } else if (!waitUntil(pid, deadline)) {
        stop = Stop::Deadline;
    }
    if ((stop == Stop::AtEnd || stop == Stop::LeftBehind) && !waitUntil(pid, deadline))
        stop = Stop::Deadline;
    if (stop == Stop::LeftBehind)
        ::kill(-pid, SIGTERM); // what the tool left holding the pipe
    else if (stop != Stop::AtEnd)
        endGroup(pid);
    setExit(result, pid);
    if (stop != Stop::AtEnd && stop != Stop::LeftBehind) {
        result.terminationStatus = 0;
        result.killedBySignal = 0;
    }
    if (stop == Stop::Deadline)
        result.endedEarly = "did not finish within " + durationText(limits.timeout);
    else if (stop == Stop::OutputLimit)
        result.endedEarly = "printed more than " + bytesText(limits.outputBytes);
    result.outputRefused = stop == Stop::Refused;
    return result;
}

std::optional<std::string> toolFailureText(const ToolResult& result, std::string_view command)
{
    const std::string name(command);
    if (!result.launchFailure.empty())
        return name + " could not be started: " + result.launchFailure;
    if (!result.endedEarly.empty())
        return name + " " + result.endedEarly;
    if (result.outputUsable())
        return std::nullopt;
    if (result.killedBySignal != 0)
        return name + " was killed by signal " + std::to_string(result.killedBySignal);
    return name + " returned error number " + std::to_string(result.terminationStatus);
}

RunTool makeRunTool(ToolPaths paths, ToolLimits limits)
{
    return [paths = std::move(paths), limits](const std::string& path, const std::vector<std::string>& args,
                                              OutputSink* output) {
        return spawnTool(paths.resolve(path), args, output, limits);
    };
}

std::string bytesText(std::uint64_t bytes)
{
    if (bytes != 0 && bytes % (std::uint64_t{1} << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes != 0 && bytes % (std::uint64_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes != 0 && bytes % (std::uint64_t{1} << 10) == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace quillfen
