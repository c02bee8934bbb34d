#pragma once

#include <chrono>
#include <functional>
#include <spawn.h>
#include <sys/types.h>

namespace quillfen {

// The tools this process has started and not yet reaped, so that an application
// that quits can end them. spawnTool starts and reaps every child through these.

// posix_spawn with the process's environment, in a new process group whose id
// is the child's; the child is known before anyone
// can ask to end it. Returns posix_spawn's error number.
int spawnKnownTool(pid_t& pid, const char* path, const posix_spawn_file_actions_t* actions, char* const argv[]);

// waitpid for a child of spawnKnownTool, forgotten before it is reaped: once
// reaped, its process id may be given to another process. Returns waitpid's result.
pid_t reapKnownTool(pid_t pid, int& status);

// pipe() with both ends close-on-exec before any tool can be spawned, so a concurrent spawn never
// inherits another's write end (which would hold that reader's end-of-file back). Sets errno on failure.
bool openPipe(int fds[2]);

// Asks every known tool's process group to end (SIGTERM); each tool is still
// reaped by whoever started it.
void terminateRunningTools();

// Ends every known tool's process group as a tool past its deadline is ended: asked (SIGTERM),
// then, once all of them have been reaped or after `grace`, made to (SIGKILL), with whatever
// they started.
void endRunningTools(std::chrono::milliseconds grace);

// For a process that may be told to end (SIGTERM, SIGINT, SIGHUP), called before it starts any
// thread: those signals are held back in every thread, and the first that comes is handed to
// `handler` on a thread of this call's own. Tools started later get the signals as usual.
void handleTermination(std::function<void(int signal)> handler);

} // namespace quillfen
