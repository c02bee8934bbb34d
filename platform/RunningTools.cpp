#include "platform/RunningTools.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillfen {

namespace {

struct Known {
    std::mutex mutex;
    std::set<pid_t> running;
};

// Never destroyed: threads may still reap their tools while the process exits.
Known& known()
{
    static auto* tools = new Known;
    return *tools;
}

} // namespace

int spawnKnownTool(pid_t& pid, const char* path, const posix_spawn_file_actions_t* actions, char* const argv[])
{
    // A process group of its own, so that ending the tool ends what it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Nor does it inherit the signals this process holds back for its own thread (endToolsWhenTerminated).
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    Known& tools = known();
    const std::lock_guard lock(tools.mutex);
    const int error = ::posix_spawn(&pid, path, actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error == 0)
        tools.running.insert(pid);
    return error;
}

pid_t reapKnownTool(pid_t pid, int& status)
{
    // Waits without reaping, so the id stays this child's for as long as it is known.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
        Known& tools = known();
        const std::lock_guard lock(tools.mutex);
        tools.running.erase(pid);
    }
    pid_t reaped = -1;
    while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped;
}

bool openPipe(int fds[2])
{
#if defined(__linux__) && !defined(QUILLFEN_POSIX_ONLY)
    return ::pipe2(fds, O_CLOEXEC) == 0;
#else
    // Without pipe2, the flags are set under the lock that every spawn takes.
    const std::lock_guard lock(known().mutex);
    if (::pipe(fds) != 0)
        return false;
    if (::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0)
        return true;
    const int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    errno = error;
    return false;
#endif
}

void terminateRunningTools()
{
    Known& tools = known();
    const std::lock_guard lock(tools.mutex);
    for (const pid_t pid : tools.running)
        ::kill(-pid, SIGTERM);
}

void endRunningTools(std::chrono::milliseconds grace)
{
    Known& tools = known();
    std::set<pid_t> ending;
    {
        const std::lock_guard lock(tools.mutex);
        ending = tools.running;
    }
    for (const pid_t pid : ending)
        ::kill(-pid, SIGTERM);
    // Whoever started each tool reaps it, and forgets it then.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    const auto anyLeft = [&] {
        const std::lock_guard lock(tools.mutex);
        return std::ranges::any_of(ending, [&](pid_t pid) { return tools.running.contains(pid); });
    };
    while (anyLeft() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const pid_t pid : ending)
        ::kill(-pid, SIGKILL);
}

void handleTermination(std::function<void(int signal)> handler)
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, handler = std::move(handler)] {
        int signal = 0;
        while (::sigwait(&signals, &signal) != 0) {
        }
        handler(signal);
    }).detach();
}

} // namespace quillfen
