#include "support/RunProgram.h"

#include "platform/RunningTools.h"

#include <spawn.h>
#include <stdexcept>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillfen::testing {

namespace {

std::string drain(int fd)
{
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(fd);
    return text;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

Outcome runProgram(const std::string& path, std::vector<std::string> arguments,
                   const std::vector<std::string>& settings)
{
    arguments.insert(arguments.begin(), path);
    std::vector<std::string> environment(settings);
    for (char** variable = environ; *variable; ++variable) {
        if (!std::string_view(*variable).starts_with("QUILLFEN_SIM_"))
            environment.emplace_back(*variable);
    }
    int out[2], err[2];
    if (!openPipe(out) || !openPipe(err))
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, path.c_str(), &actions, nullptr, pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    // Both streams are read at once so that a chatty stderr cannot stall the child.
    std::string errors;
    std::thread errorReader([&] { errors = drain(err[0]); });
    Outcome outcome;
    outcome.out = drain(out[0]);
    errorReader.join();
    outcome.err = std::move(errors);
    if (spawned != 0)
        throw std::runtime_error("cannot run " + path);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace quillfen::testing
