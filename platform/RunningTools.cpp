#include "platform/RunningTools.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <set>
#include <sys/wait.h>

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
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
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

void terminateRunningTools()
{
    Known& tools = known();
    const std::lock_guard lock(tools.mutex);
    for (const pid_t pid : tools.running)
        ::kill(-pid, SIGTERM);
}

} // namespace quillfen
