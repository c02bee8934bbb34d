// The simulated Mac: one binary that plays /usr/bin/log, tmutil, id and
// sw_vers, told apart by the name it is run as. The QUILLFEN_SIM_* variables
// choose the recorded log and inject the faults the real tools can show.

#include "macsim/logshow.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillfen::macsim;
using Arguments = std::span<const std::string_view>;

std::string_view environment(const char* name, std::string_view fallback = {})
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// A count from the environment, checked so a typo fails loudly instead of meaning 0.
std::optional<std::uint32_t> countFromEnvironment(const char* name, std::uint32_t largest)
{
    const std::string_view text = environment(name);
    if (text.empty())
        return std::nullopt;
    const auto count = parseCount(text);
    if (!count || *count > largest) {
        throw std::runtime_error("macsim: " + std::string(name) + " must be a count up to " + std::to_string(largest) +
                                 ", not '" + std::string(text) + "'");
    }
    return count;
}

int exitStatusFromEnvironment(const char* name)
{
    return int(countFromEnvironment(name, 255).value_or(0));
}

// Every tool prints its normal answer before any injected exit status takes effect.
int answer(std::string_view text, const char* statusVariable)
{
    const int status = exitStatusFromEnvironment(statusVariable);
    std::cout << text << std::flush;
    return status;
}

NewestAge newestAgeFromEnvironment()
{
    if (environment("QUILLFEN_SIM_SHIFT") == "none")
        return std::nullopt;
    return std::chrono::minutes{countFromEnvironment("QUILLFEN_SIM_SHIFT", 1'000'000'000).value_or(1)};
}

std::string logOutput(const ShowRequest& request)
{
    const std::string_view kind = environment("QUILLFEN_SIM_LOG_OUTPUT");
    if (kind == "garbage")
        return "this is not JSON: the simulated log tool was told to print garbage\n";
    if (kind == "empty")
        return {};
    if (!kind.empty()) {
        throw std::runtime_error("macsim: QUILLFEN_SIM_LOG_OUTPUT must be garbage or empty, not '" + std::string(kind) +
                                 "'");
    }
    const std::string path{environment("QUILLFEN_SIM_ARCHIVE", QUILLFEN_SIM_DEFAULT_ARCHIVE)};
    errno = 0;
    simdjson::padded_string archive;
    if (const auto error = simdjson::padded_string::load(path).get(archive)) {
        throw std::runtime_error("log: cannot read the archive " + path + ": " +
                                 (errno != 0 ? std::strerror(errno) : simdjson::error_message(error)));
    }
    try {
        return showLog(archive, request, newestAgeFromEnvironment(),
                       std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now()));
    } catch (const ArchiveError& error) {
        throw std::runtime_error("log: cannot use the archive " + path + ": " + error.what());
    }
}

int runLog(Arguments arguments)
{
    if (arguments.empty() || arguments.front() != "show")
        throw UsageError("log: only the show command is simulated");
    const ShowRequest request = parseShowArguments(arguments.subspan(1));
    const int status = exitStatusFromEnvironment("QUILLFEN_SIM_LOG_STATUS");
    const auto signalNumber = countFromEnvironment("QUILLFEN_SIM_LOG_SIGNAL", NSIG - 1);
    std::cout << logOutput(request) << std::flush;
    if (signalNumber) {
        std::signal(int(*signalNumber), SIG_DFL);
        std::raise(int(*signalNumber));
    }
    return status;
}

int runTmutil(Arguments arguments)
{
    constexpr std::string_view options[] = {"-a", "--auto", "-r", "--rotation"};
    const bool startBackup = !arguments.empty() && arguments.front() == "startbackup" &&
                             std::ranges::all_of(arguments.subspan(1), [&](std::string_view a) {
                                 return std::ranges::count(options, a) > 0;
                             });
    if (!startBackup)
        throw UsageError("tmutil: only startbackup with -a and -r is simulated");
    return answer("", "QUILLFEN_SIM_TMUTIL_STATUS");
}

int runId(Arguments arguments)
{
    if (arguments.empty() || arguments.front() != "-G" || arguments.size() > 2) {
        throw UsageError("id: only -G [user] is simulated");
    }
    std::string groups = "20 12 61 79 80 81 98 701 33 100 204 250 395 398 399 400\n";
    if (environment("QUILLFEN_SIM_ADMIN") == "0")
        groups.erase(groups.find(" 80 "), 3);
    return answer(groups, "QUILLFEN_SIM_ID_STATUS");
}

int runSwVers(Arguments arguments)
{
    if (arguments.size() != 1 || arguments.front() != "-productVersion") {
        throw UsageError("sw_vers: only -productVersion is simulated");
    }
    return answer(std::string(environment("QUILLFEN_SIM_MACOS", "14.5")) + "\n", "QUILLFEN_SIM_SW_VERS_STATUS");
}

struct Tool {
    std::string_view name;
    std::string_view usage;
    int (*run)(Arguments);
};

constexpr Tool tools[] = {
    {"log", "usage: log show --predicate PREDICATE --style json --info --last N(s|m|h|d)", runLog},
    {"tmutil", "usage: tmutil startbackup -a -r", runTmutil},
    {"id", "usage: id -G [user]", runId},
    {"sw_vers", "usage: sw_vers -productVersion", runSwVers},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 1)
        return 64;
    std::vector<std::string_view> arguments(argv, argv + argc);
    std::string_view name = arguments.front();
    name.remove_prefix(name.find_last_of('/') + 1); // npos + 1 is 0: a bare name stays whole
    arguments.erase(arguments.begin());
    // `macsim log show …` is handy when trying the simulated Mac by hand.
    if (name == "macsim" && !arguments.empty()) {
        name = arguments.front();
        arguments.erase(arguments.begin());
    }
    const auto tool = std::ranges::find(tools, name, &Tool::name);
    if (tool == std::end(tools)) {
        std::cerr << "macsim: run me as log, tmutil, id or sw_vers (or as macsim TOOL ARGUMENTS), not as '" << name
                  << "'\n";
        return 64;
    }
    try {
        return tool->run(arguments);
    } catch (const UsageError& error) {
        std::cerr << error.what() << '\n' << tool->usage << '\n';
        return 64;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
