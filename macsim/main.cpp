// The simulated Mac: one binary that plays /usr/bin/log, tmutil, id and
// sw_vers, told apart by the name it is run as. The QUILLFEN_SIM_* variables
// choose the recorded log and inject the faults the real tools can show.
// `tmutil startbackup` leaves a trace in a state file for `log show` to replay.

#include "macsim/logshow.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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

// Inside the simulated Mac whose <root>/usr/bin/TOOL link was run, or the
// build's when run as `macsim TOOL` or found through PATH.
std::filesystem::path backupStatePath(std::string_view runAs)
{
    if (const std::string_view state = environment("QUILLFEN_SIM_STATE"); !state.empty())
        return state;
    const std::filesystem::path root =
        runAs.find('/') == std::string_view::npos
            ? std::filesystem::path(QUILLFEN_SIM_DEFAULT_ROOT)
            : std::filesystem::absolute(runAs).lexically_normal().parent_path().parent_path().parent_path();
    return root / "var/db/quillfen-sim-backups";
}

void recordBackupRequest(const std::filesystem::path& path)
{
    std::error_code ignored; // opening the file reports what matters
    std::filesystem::create_directories(path.parent_path(), ignored);
    const std::string line =
        backupRequestLine(std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now()));
    // One write to a file opened for appending: requests made at once never share a line.
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const bool written = file >= 0 && ::write(file, line.data(), line.size()) == ssize_t(line.size());
    const int error = errno;
    if (file >= 0)
        ::close(file);
    if (!written)
        throw std::runtime_error("tmutil: cannot record the backup request in " + path.string() + ": " +
                                 std::strerror(error));
}

// A missing or unreadable file holds no requests.
std::vector<Instant> recordedBackupRequests(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    try {
        return parseBackupRequests(std::string(std::istreambuf_iterator<char>(file), {}));
    } catch (const std::ios_base::failure&) {
        return {};
    }
}

std::string logOutput(const ShowRequest& request, std::string_view runAs)
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
    // A log archive folder keeps its recorded times and knows nothing of this Mac's requests.
    const std::string path = request.archive
                                 ? *request.archive + "/" + std::string(kArchiveLogName)
                                 : std::string(environment("QUILLFEN_SIM_ARCHIVE", QUILLFEN_SIM_DEFAULT_ARCHIVE));
    errno = 0;
    simdjson::padded_string archive;
    if (const auto error = simdjson::padded_string::load(path).get(archive)) {
        throw std::runtime_error("log: cannot read the archive " + path + ": " +
                                 (errno != 0 ? std::strerror(errno) : simdjson::error_message(error)));
    }
    try {
        if (request.archive)
            return showLog(archive, request, std::nullopt, Instant::max());
        return showLog(archive, request, newestAgeFromEnvironment(),
                       std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now()),
                       recordedBackupRequests(backupStatePath(runAs)));
    } catch (const ArchiveError& error) {
        throw std::runtime_error("log: cannot use the archive " + path + ": " + error.what());
    }
}

int runLog(Arguments arguments, std::string_view runAs)
{
    if (arguments.empty() || arguments.front() != "show")
        throw UsageError("log: only the show command is simulated");
    const ShowRequest request = parseShowArguments(arguments.subspan(1));
    const int status = exitStatusFromEnvironment("QUILLFEN_SIM_LOG_STATUS");
    const auto signalNumber = countFromEnvironment("QUILLFEN_SIM_LOG_SIGNAL", NSIG - 1);
    std::cout << logOutput(request, runAs) << std::flush;
    if (signalNumber) {
        std::signal(int(*signalNumber), SIG_DFL);
        std::raise(int(*signalNumber));
    }
    return status;
}

int runTmutil(Arguments arguments, std::string_view runAs)
{
    if (arguments.size() == 1 && arguments.front() == "status") {
        ShowRequest request;
        request.predicate = parsePredicate(R"(subsystem == "com.apple.TimeMachine")");
        return answer(backupStatus(simdjson::padded_string(logOutput(request, runAs))), "QUILLFEN_SIM_TMUTIL_STATUS");
    }
    constexpr std::string_view options[] = {"-a", "--auto", "-r", "--rotation"};
    const bool startBackup = !arguments.empty() && arguments.front() == "startbackup" &&
                             std::ranges::all_of(arguments.subspan(1), [&](std::string_view a) {
                                 return std::ranges::count(options, a) > 0;
                             });
    if (!startBackup)
        throw UsageError("tmutil: only status, and startbackup with -a and -r, are simulated");
    const int status = exitStatusFromEnvironment("QUILLFEN_SIM_TMUTIL_STATUS");
    if (status == 0)
        recordBackupRequest(backupStatePath(runAs));
    return status;
}

int runId(Arguments arguments, std::string_view)
{
    if (arguments.empty() || arguments.front() != "-G" || arguments.size() > 2) {
        throw UsageError("id: only -G [user] is simulated");
    }
    std::string groups = "20 12 61 79 80 81 98 701 33 100 204 250 395 398 399 400\n";
    if (environment("QUILLFEN_SIM_ADMIN") == "0")
        groups.erase(groups.find(" 80 "), 3);
    return answer(groups, "QUILLFEN_SIM_ID_STATUS");
}

int runSwVers(Arguments arguments, std::string_view)
{
    if (arguments.size() != 1 || arguments.front() != "-productVersion") {
        throw UsageError("sw_vers: only -productVersion is simulated");
    }
    return answer(std::string(environment("QUILLFEN_SIM_MACOS", "14.5")) + "\n", "QUILLFEN_SIM_SW_VERS_STATUS");
}

struct Tool {
    std::string_view name;
    std::string_view usage;
    int (*run)(Arguments, std::string_view runAs); // runAs: the path it was run as, empty for `macsim TOOL`
};

constexpr Tool tools[] = {
    {"log", "usage: log show [--archive DIR] --predicate PREDICATE --style json|ndjson --info [--last N(s|m|h|d)]",
     runLog},
    {"tmutil", "usage: tmutil status | tmutil startbackup -a -r", runTmutil},
    {"id", "usage: id -G [user]", runId},
    {"sw_vers", "usage: sw_vers -productVersion", runSwVers},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 1)
        return 64;
    std::vector<std::string_view> arguments(argv, argv + argc);
    std::string_view runAs = arguments.front();
    std::string_view name = runAs.substr(runAs.find_last_of('/') + 1); // npos + 1 is 0: a bare name stays whole
    arguments.erase(arguments.begin());
    // `macsim log show …` is handy when trying the simulated Mac by hand.
    if (name == "macsim" && !arguments.empty()) {
        runAs = {};
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
        return tool->run(arguments, runAs);
    } catch (const UsageError& error) {
        std::cerr << error.what() << '\n' << tool->usage << '\n';
        return 64;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
