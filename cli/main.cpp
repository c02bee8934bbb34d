#include "cli/FleetOutput.h"
#include "cli/Help.h"
#include "cli/TerminalText.h"
#include "platform/FileWrite.h"
#include "platform/IntegerText.h"
#include "platform/RunningTools.h"
#include "platform/Terminal.h"
#include "platform/TimeZone.h"
#include "service/CheckService.h"
#include "timeline/Svg.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using namespace quillfen;

constexpr int kNoVerdict = static_cast<int>(cli::PluginStatus::unknown);

enum class Format { Text, Json, Nagios, Ea };

// The timeline file's size: about a window's width, and the window's height.
constexpr double kSvgWidth = 960;
constexpr double kSvgHeight = 120;

struct Arguments {
    std::string command;
    std::optional<std::string> hours;
    std::optional<std::string> file;
    std::optional<std::string> svgPath;
    std::optional<std::string> prometheusPath;
    std::optional<std::string> macos;
    std::optional<std::string> timeZone;
    std::optional<std::string> timeout;
    std::optional<std::string> warning, critical; // the monitoring plugin's limits on the last backup's age
    std::optional<std::string> saveResult;        // where the Check's JSON is kept for --from
    std::optional<std::string> from;              // a Check kept so, which --ea reads instead of checking
    Format format = Format::Text;
    bool help = false;
    bool version = false;
};

// Log text reaches both streams, so neither may carry a terminal's controls.
void print(std::string_view text, std::FILE* stream = stdout)
{
    const std::string inert = cli::inertText(text);
    std::fwrite(inert.data(), 1, inert.size(), stream);
}

int usageError(const std::string& message)
{
    print("quillfen-cli: " + message + "\nTry 'quillfen-cli --help' for more information.\n", stderr);
    return kNoVerdict;
}

// The check service on the real (or simulated) Mac, with a main queue this thread drains.
class Session {
public:
    // `release`: the one a log file came from, as named, instead of this Mac's.
    Session(const ToolLimits& limits, const std::optional<OsVersion>& release)
        : paths_(ToolPaths::configured()), runTool_(makeRunTool(paths_, limits)),
          service_(CheckServices{mainQueue_, clock_, runTool_, std::make_shared<StatvfsVolumes>(paths_.root()),
                                 namedOrQueried(release, runTool_)})
    {
    }

    const SystemVersion& systemVersion() const { return service_.systemVersion(); }
    Date now() const { return clock_->now(); }

    // On a terminal, the run of `request` shows how far it has come on a line of standard error
    // while await() waits for it.
    CheckRequest showingProgress(CheckRequest request)
    {
        if (columns_) {
            progress_ = std::make_shared<ProgressLine>(request.logFile, clock_);
            request.progress = [line = progress_](const RunProgress& progress) { line->report(progress); };
        }
        return request;
    }

    // Starts a run with `start`, which hands its result to the function it is given, and waits for
    // it. The progress line, drawn here on the main thread, is cleared before anything else is written.
    template <typename Result, typename Start> Result await(Start start)
    {
        std::optional<Result> result;
        start([&result](Result& done) { result = std::move(done); });
        while (!result) {
            if (!progress_)
                mainQueue_.runOne();
            else if (!mainQueue_.runOne(kRedrawWait))
                if (const auto text = progress_->due())
                    writeToTerminal(cli::progressRedraw(*text, *columns_));
        }
        if (progress_ && progress_->shown())
            writeToTerminal(cli::kClearLine);
        progress_.reset();
        return std::move(*result);
    }

    CheckService& service() { return service_; }

private:
    static SystemVersion namedOrQueried(const std::optional<OsVersion>& release, const RunTool& runTool)
    {
        if (!release)
            return queryOsVersion(runTool);
        SystemVersion named(*release);
        named.named = true;
        return named;
    }

    static void writeToTerminal(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

    static constexpr std::chrono::milliseconds kRedrawWait{250};

    FifoMainQueue mainQueue_;
    std::shared_ptr<const Clock> clock_ = std::make_shared<SystemClock>();
    const std::optional<std::size_t> columns_ = standardErrorColumns();
    std::shared_ptr<ProgressLine> progress_;
    ToolPaths paths_;
    RunTool runTool_;
    CheckService service_;
};

std::optional<OsVersion> namedRelease(const Arguments& arguments)
{
    return arguments.macos ? parseProductVersion(*arguments.macos) : std::nullopt;
}

// The period as the window's field reads it; a saved log without one gives its own.
CheckRequest requestOf(const Arguments& arguments)
{
    CheckRequest request;
    if (arguments.hours)
        request.hours = std::clamp<std::int64_t>(scanInteger(*arguments.hours), 1, 48);
    request.logFile = arguments.file;
    request.periodFromFile = arguments.file && !arguments.hours;
    return request;
}

void printAlerts(const std::vector<std::string>& alerts)
{
    for (const std::string& alert : alerts)
        print(std::string(kErrorAlertMessage) + ' ' + alert + '\n', stderr);
}

// The outputs are written under this lock; a signal to end that comes after them leaves the process
// to end by itself. Never destroyed: the thread that waits for the signals may outlive main.
struct Output {
    std::mutex mutex;
    bool written = false;
};
Output& output()
{
    static auto* shared = new Output;
    return *shared;
}

void printOutcome(Format format, const cli::CheckOutcome& outcome)
{
    switch (format) {
    case Format::Text:
        printAlerts(outcome.result.alerts);
        print(outcome.result.report);
        break;
    case Format::Json:
        print(cli::checkJson(outcome));
        break;
    case Format::Nagios:
        print(cli::nagiosLine(outcome));
        break;
    case Format::Ea:
        print(cli::extensionAttributeLine(outcome));
        break;
    }
}

// How long the tools have to end when the command is told to, before they are made to.
constexpr std::chrono::milliseconds kEndGrace{2000};

// Told to end (launchd, NRPE, ^C): unless the outputs are written already, the command says so in
// its own format, without a verdict, and ends with the tools it started and what they started.
// The lock is kept to the end, so that nothing else is printed meanwhile.
void endWhenTold(const Arguments& arguments, int signal)
{
    std::unique_lock lock(output().mutex);
    if (output().written)
        return;
    const std::string name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
    if (standardErrorColumns())
        std::fwrite(cli::kClearLine.data(), 1, cli::kClearLine.size(), stderr);
    if (arguments.command == "check") {
        CheckResult ended;
        ended.alerts = {"the Check was ended by " + name + " before it finished"};
        printOutcome(arguments.format, {ended, std::nullopt, SystemClock().now()});
    } else {
        printAlerts({"quillfen-cli was ended by " + name + " before it finished"});
    }
    std::fflush(nullptr);
    endRunningTools(kEndGrace);
    std::_Exit(kNoVerdict);
}

std::string hostName()
{
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return {};
    return cli::inertText(name.data());
}

// The inventory's answer from a Check saved before, at once: no tool runs.
int readSavedCheck(const std::string& path)
{
    constexpr std::size_t kLargest = std::size_t{64} << 20; // a report of 48 hours is far less
    std::ifstream file(path, std::ios::binary);
    std::string json, unreadable = file ? "" : std::strerror(errno);
    std::array<char, 1 << 16> chunk{};
    while (file && unreadable.empty()) {
        file.read(chunk.data(), chunk.size());
        json.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
        if (json.size() > kLargest)
            unreadable = "it is larger than any saved Check";
    }
    if (file.bad() && unreadable.empty())
        unreadable = std::strerror(errno);
    const auto [line, status] = cli::savedExtensionAttribute(json, std::filesystem::path(path).filename().string(),
                                                             SystemClock().now(), unreadable);
    const std::lock_guard lock(output().mutex);
    output().written = true;
    print(line);
    return static_cast<int>(status);
}

// Read when the arguments were checked.
cli::AgeThresholds thresholds(const Arguments& arguments)
{
    cli::AgeThresholds given;
    if (arguments.warning)
        given.warning = cli::AgeLimit{*cli::durationSeconds(*arguments.warning), *arguments.warning};
    if (arguments.critical)
        given.critical = cli::AgeLimit{*cli::durationSeconds(*arguments.critical), *arguments.critical};
    return given;
}

int runCheck(const Arguments& arguments, const ToolLimits& limits)
{
    Session session(limits, namedRelease(arguments));
    const CheckRequest request = session.showingProgress(requestOf(arguments));
    const CheckResult result =
        session.await<CheckResult>([&](auto done) { session.service().check(request, std::move(done)); });
    cli::CheckOutcome outcome{
        result, std::nullopt, session.now(), thresholds(arguments), session.systemVersion().version, hostName()};
    // The files first, so that every format, the metrics among them, can say when one failed.
    const auto write = [&outcome](const std::optional<std::string>& path, const std::function<std::string()>& data,
                                  std::optional<unsigned> mode = std::nullopt) {
        if (!path)
            return;
        if (const auto failure = writeFileAtomically(*path, data(), mode)) {
            const std::string unwritten = "cannot write '" + *path + "': " + *failure;
            print("quillfen-cli: " + unwritten + '\n', stderr);
            outcome.unwritten = outcome.unwritten.value_or(unwritten);
        }
    };
    write(arguments.svgPath,
          [&result] { return timelineSvg(drawTimeline(result.timeline, kSvgWidth, kSvgHeight, localUtcOffset)); });
    // Readable by node_exporter, which runs as another user, whatever the umask of launchd's job.
    write(
        arguments.prometheusPath, [&outcome] { return cli::prometheusMetrics(outcome); }, 0644);
    // So is the saved Check, for the inventory's reading.
    write(
        arguments.saveResult, [&outcome] { return cli::checkJson(outcome); }, 0644);
    const std::lock_guard lock(output().mutex);
    output().written = true;
    printOutcome(arguments.format, outcome);
    return static_cast<int>(outcome.status());
}

int runListing(const Arguments& arguments, const ToolLimits& limits, Listing listing)
{
    Session session(limits, namedRelease(arguments));
    // A saved log may come from another Mac, so this one's release does not matter then.
    if (listing == Listing::apfs && !arguments.file) {
        const SystemVersion& system = session.systemVersion();
        if (!system.version) {
            print("quillfen-cli: " + system.failure + '\n', stderr);
            return kNoVerdict;
        }
        if (!Release::of(*system.version).backsUpToAPFS()) {
            std::cerr << "quillfen-cli: the APFS listing needs macOS 11 or later\n";
            return kNoVerdict;
        }
    }
    const CheckRequest request = session.showingProgress(requestOf(arguments));
    const ListingResult result =
        session.await<ListingResult>([&](auto done) { session.service().list(listing, request, std::move(done)); });
    const std::lock_guard lock(output().mutex);
    output().written = true;
    printAlerts(result.alerts);
    print(result.text);
    return result.status == RunStatus::finished ? 0 : kNoVerdict;
}

int runBackupNow(const ToolLimits& limits)
{
    Session session(limits, std::nullopt);
    const auto alerts =
        session.await<std::vector<std::string>>([&](auto done) { session.service().backUpNow(std::move(done)); });
    const std::lock_guard lock(output().mutex);
    output().written = true;
    printAlerts(alerts);
    return alerts.empty() ? 0 : kNoVerdict;
}

// The options that take a value, written "--name VALUE" or "--name=VALUE".
struct ValueOption {
    std::string_view name;
    std::optional<std::string> Arguments::*field;
};
constexpr ValueOption kValueOptions[] = {{"--hours", &Arguments::hours},
                                         {"--file", &Arguments::file},
                                         {"--svg", &Arguments::svgPath},
                                         {"--prometheus", &Arguments::prometheusPath},
                                         {"--macos", &Arguments::macos},
                                         {"--tz", &Arguments::timeZone},
                                         {"--timeout", &Arguments::timeout},
                                         {"-t", &Arguments::timeout},
                                         {"--warning", &Arguments::warning},
                                         {"-w", &Arguments::warning},
                                         {"--critical", &Arguments::critical},
                                         {"-c", &Arguments::critical},
                                         {"--save-result", &Arguments::saveResult},
                                         {"--from", &Arguments::from}};

constexpr std::int64_t kLongestTimeout = 86400;

// NRPE ends a plugin after 60 seconds unless told otherwise: a plugin's tools end before that.
constexpr std::chrono::seconds kPluginTimeout{50};

// A whole number of seconds from 1 to a day, digits only.
std::optional<ToolLimits> toolLimits(const std::optional<std::string>& timeout, Format format)
{
    ToolLimits limits;
    if (format == Format::Nagios)
        limits.timeout = kPluginTimeout;
    if (!timeout)
        return limits;
    std::int64_t seconds = 0;
    for (const char c : *timeout) {
        if (c < '0' || c > '9' || seconds > kLongestTimeout)
            return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds < 1 || seconds > kLongestTimeout)
        return std::nullopt;
    limits.timeout = std::chrono::seconds(seconds);
    return limits;
}

const ValueOption* valueOption(std::string_view arg)
{
    for (const ValueOption& option : kValueOptions) {
        if (arg.starts_with(option.name) && (arg.size() == option.name.size() || arg[option.name.size()] == '='))
            return &option;
    }
    return nullptr;
}

std::optional<int> parse(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            arguments.help = true;
        } else if (arg == "-V" || arg == "--version") {
            arguments.version = true;
        } else if (const ValueOption* option = valueOption(arg)) {
            std::optional<std::string>& value = arguments.*(option->field);
            if (arg.size() > option->name.size())
                value = std::string(arg.substr(option->name.size() + 1));
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return usageError("option '" + std::string(option->name) + "' needs a value");
        } else if (arg == "--json" || arg == "--nagios" || arg == "--ea") {
            if (arguments.format != Format::Text)
                return usageError("choose one of '--json', '--nagios' and '--ea'");
            arguments.format = arg == "--json" ? Format::Json : arg == "--nagios" ? Format::Nagios : Format::Ea;
        } else if (arg.starts_with("-")) {
            return usageError("unknown option '" + std::string(arg) + "'");
        } else if (arguments.command.empty()) {
            arguments.command = arg;
        } else if (arguments.command == "help" && !arguments.help) {
            arguments.command = arg;
            arguments.help = true;
        } else {
            return usageError("unexpected argument '" + std::string(arg) + "'");
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    if (const auto failed = parse(argc, argv, arguments))
        return *failed;
    if (arguments.version) {
        print("quillfen-cli " QUILLFEN_VERSION "\n");
        return 0;
    }
    if (arguments.command.empty() || arguments.command == "help") {
        if (arguments.help || arguments.command == "help") {
            print(cli::overviewHelp());
            return 0;
        }
        return usageError("no command given");
    }
    const auto page = cli::commandHelp(arguments.command);
    if (!page)
        return usageError("unknown command '" + arguments.command + "'");
    if (arguments.help) {
        print(*page);
        return 0;
    }
    if (arguments.command != "check" && arguments.format != Format::Text)
        return usageError("'--json', '--nagios' and '--ea' go with check only");
    if (arguments.command != "check" && (arguments.svgPath || arguments.prometheusPath))
        return usageError("'--svg' and '--prometheus' go with check only");
    if (arguments.command == "backup-now" && arguments.hours)
        return usageError("backup-now takes no period");
    if (arguments.command == "backup-now" && arguments.file)
        return usageError("backup-now reads no log file");
    if (arguments.macos && !arguments.file)
        return usageError("'--macos' goes with '--file' only: this Mac's release is read from it");
    if (arguments.macos && !parseProductVersion(*arguments.macos))
        return usageError("'--macos' wants a macOS release such as 13.2, not '" + *arguments.macos + "'");
    if (arguments.timeZone && !arguments.file)
        return usageError("'--tz' goes with '--file' only");
    // Before the session starts its threads: the zone is the process's own.
    if (arguments.timeZone && !useTimeZone(*arguments.timeZone))
        return usageError("unknown time zone '" + *arguments.timeZone +
                          "': give its name in the time zone database, such as America/Los_Angeles");
    // Never harm what was given: a file to write that is the log being read is refused before anything runs.
    for (const auto& [option, path] :
         {std::pair{"--svg", arguments.svgPath}, {"--prometheus", arguments.prometheusPath}}) {
        std::error_code unknown;
        if (arguments.file && path && std::filesystem::equivalent(*arguments.file, *path, unknown))
            return usageError("'" + std::string(option) + "' names the log file being read ('" + *path +
                              "'): nothing was written");
    }
    for (const auto& [option, value] : {std::pair{"-w", arguments.warning}, {"-c", arguments.critical}}) {
        if (value && arguments.format != Format::Nagios)
            return usageError("'" + std::string(option) + "' goes with '--nagios' only");
        if (value && !cli::durationSeconds(*value))
            return usageError("'" + std::string(option) +
                              "' wants an age such as 90m, 12h or 1d (up to a year), not '" + *value + "'");
    }
    if (arguments.saveResult && arguments.command != "check")
        return usageError("'--save-result' goes with check only");
    if (arguments.from && (arguments.command != "check" || arguments.format != Format::Ea))
        return usageError("'--from' goes with 'check --ea' only");
    if (arguments.from && (arguments.file || arguments.hours || arguments.saveResult))
        return usageError("'--from' reads a saved Check: no period, log file or result to save goes with it");
    const auto limits = toolLimits(arguments.timeout, arguments.format);
    if (!limits)
        return usageError("'--timeout' takes a whole number of seconds from 1 to " + std::to_string(kLongestTimeout));
    if (arguments.from)
        return readSavedCheck(*arguments.from);
    handleTermination([&arguments](int signal) { endWhenTold(arguments, signal); });
    if (arguments.command == "check")
        return runCheck(arguments, *limits);
    if (arguments.command == "speed")
        return runListing(arguments, *limits, Listing::speed);
    if (arguments.command == "apfs")
        return runListing(arguments, *limits, Listing::apfs);
    return runBackupNow(*limits);
}
