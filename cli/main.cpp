#include "analysis/Analysis.h"
#include "cli/FleetOutput.h"
#include "cli/Help.h"
#include "cli/TerminalText.h"
#include "controller/ViewController.h"
#include "platform/FileWrite.h"
#include "platform/TimeZone.h"
#include "platform/headless/HeadlessControls.h"
#include "timeline/Svg.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace quillfen;

// Exit statuses of the monitoring-plugin convention.
enum ExitStatus { kGreen = 0, kOrange = 1, kRed = 2, kNoVerdict = 3 };

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
    Format format = Format::Text;
    bool help = false;
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

// One window on headless controls, wired to the real (or simulated) Mac.
class Session {
public:
    // `release`: the one a log file came from, as named, instead of this Mac's.
    Session(const ToolLimits& limits, const std::optional<OsVersion>& release, bool drawsTimeline = false)
        : timeline_(drawsTimeline), paths_(ToolPaths::configured()), runTool_(makeRunTool(paths_, limits)),
          volumes_(paths_.root()), systemVersion_(namedOrQueried(release, runTool_)),
          controller_(controlsOf(window_, timeline_),
                      ControllerServices{mainQueue_, alerts_, defaults_, clock_, runTool_, volumes_, systemVersion_})
    {
        controller_.viewDidLoad();
    }

    // Presses a button, with the period field holding the hours and the log
    // file in place of the tool when given, and waits until its run has finished.
    void press(const Arguments& arguments, void (ViewController::*button)())
    {
        if (arguments.hours)
            window_.periodText.setText(*arguments.hours);
        if (arguments.file)
            controller_.useLogFile(*arguments.file, !arguments.hours);
        (controller_.*button)();
        while (!window_.progressSpinner.isHidden())
            mainQueue_.runOne();
        for (const Alert& alert : alerts_.alerts())
            alertTexts_.push_back(alert.informativeText);
    }

    void printAlerts() const
    {
        for (const Alert& alert : alerts_.alerts())
            print(alert.messageText + ' ' + alert.informativeText + '\n', stderr);
    }

    ViewController& controller() { return controller_; }
    const SystemVersion& systemVersion() const { return systemVersion_; }
    std::string report() const { return window_.outputText.plainText(); }
    bool alerted() const { return !alerts_.alerts().empty(); }

    cli::CheckOutcome outcome() const
    {
        const auto light = window_.trafficLight.colour();
        return cli::CheckOutcome{controller_,
                                 controller_.lastCheck(),
                                 light == SystemColour::Grey ? std::nullopt : light,
                                 report(),
                                 alertTexts_,
                                 volumes_,
                                 clock_.now()};
    }

    const TimelineFacts& timeline() const { return timeline_.shown(); }

private:
    static SystemVersion namedOrQueried(const std::optional<OsVersion>& release, const RunTool& runTool)
    {
        if (!release)
            return queryOsVersion(runTool);
        SystemVersion named(*release);
        named.named = true;
        return named;
    }

    headless::Window window_;
    RecordingTimelineView timeline_;
    headless::FifoMainQueue mainQueue_;
    headless::RecordingAlerts alerts_; // the text formats print them on standard error
    InMemoryDefaults defaults_;
    SystemClock clock_;
    ToolPaths paths_;
    RunTool runTool_;
    StatvfsVolumes volumes_;
    SystemVersion systemVersion_;
    ViewController controller_;
    std::vector<std::string> alertTexts_;
};

std::optional<OsVersion> namedRelease(const Arguments& arguments)
{
    return arguments.macos ? parseProductVersion(*arguments.macos) : std::nullopt;
}

int exitStatusFor(const std::optional<SystemColour>& light)
{
    if (!light)
        return kNoVerdict;
    switch (*light) {
    case SystemColour::Green:
        return kGreen;
    case SystemColour::Orange:
        return kOrange;
    default:
        return kRed;
    }
}

int runCheck(const Arguments& arguments, const ToolLimits& limits)
{
    Session session(limits, namedRelease(arguments), arguments.svgPath.has_value());
    session.press(arguments, &ViewController::runCheckButton);
    const cli::CheckOutcome outcome = session.outcome();
    // The files first, so that a monitoring line can say when one failed.
    std::optional<std::string> unwritten;
    const auto write = [&unwritten](const std::optional<std::string>& path, const std::function<std::string()>& data) {
        if (!path)
            return;
        if (const auto failure = writeFileAtomically(*path, data())) {
            unwritten = "cannot write '" + *path + "': " + *failure;
            print("quillfen-cli: " + *unwritten + '\n', stderr);
        }
    };
    write(arguments.svgPath,
          [&session] { return timelineSvg(drawTimeline(session.timeline(), kSvgWidth, kSvgHeight, localUtcOffset)); });
    write(arguments.prometheusPath, [&outcome] { return cli::prometheusMetrics(outcome); });
    switch (arguments.format) {
    case Format::Text:
        session.printAlerts();
        print(outcome.report);
        break;
    case Format::Json:
        print(cli::checkJson(outcome));
        break;
    case Format::Nagios:
        print(unwritten ? "QUILLFEN UNKNOWN - " + *unwritten + '\n' : cli::nagiosLine(outcome));
        break;
    case Format::Ea:
        print(cli::extensionAttributeLine(outcome));
        break;
    }
    return unwritten ? kNoVerdict : exitStatusFor(outcome.light);
}

int runListing(const Arguments& arguments, const ToolLimits& limits, void (ViewController::*button)())
{
    Session session(limits, namedRelease(arguments));
    // A saved log may come from another Mac, so this one's release does not matter then.
    if (button == &ViewController::runAPFSButton && !arguments.file) {
        if (!session.systemVersion().version) {
            print("quillfen-cli: " + session.systemVersion().failure + '\n', stderr);
            return kNoVerdict;
        }
        if (!session.controller().osVersion.backsUpToAPFS()) {
            std::cerr << "quillfen-cli: the APFS listing needs macOS 11 or later\n";
            return kNoVerdict;
        }
    }
    session.press(arguments, button);
    session.printAlerts();
    const std::string report = session.report();
    print(report);
    // The listing's header ends in a blank line; right after it, the decoding error.
    const bool undecodable = report.ends_with(":\n\n" + std::string(kParseErrorLine));
    return session.alerted() || undecodable ? kNoVerdict : 0;
}

int runBackupNow(const ToolLimits& limits)
{
    Session session(limits, std::nullopt);
    session.press(Arguments{}, &ViewController::runBackupNow);
    session.printAlerts();
    return session.alerted() ? kNoVerdict : 0;
}

// The options that take a value, written "--name VALUE" or "--name=VALUE".
struct ValueOption {
    std::string_view name;
    std::optional<std::string> Arguments::*field;
};
constexpr ValueOption kValueOptions[] = {
    {"--hours", &Arguments::hours},    {"--file", &Arguments::file},
    {"--svg", &Arguments::svgPath},    {"--prometheus", &Arguments::prometheusPath},
    {"--macos", &Arguments::macos},    {"--tz", &Arguments::timeZone},
    {"--timeout", &Arguments::timeout}};

constexpr std::int64_t kLongestTimeout = 86400;

// A whole number of seconds from 1 to a day, digits only.
std::optional<ToolLimits> toolLimits(const std::optional<std::string>& timeout)
{
    ToolLimits limits;
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
    const auto limits = toolLimits(arguments.timeout);
    if (!limits)
        return usageError("'--timeout' takes a whole number of seconds from 1 to " + std::to_string(kLongestTimeout));
    if (arguments.command == "check")
        return runCheck(arguments, *limits);
    if (arguments.command == "speed")
        return runListing(arguments, *limits, &ViewController::runSpeedButton);
    if (arguments.command == "apfs")
        return runListing(arguments, *limits, &ViewController::runAPFSButton);
    return runBackupNow(*limits);
}
