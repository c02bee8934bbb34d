#include "controller/ViewController.h"
#include "platform/headless/HeadlessControls.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace quillfen;

// Exit statuses of the monitoring-plugin convention.
enum ExitStatus { kGreen = 0, kOrange = 1, kRed = 2, kNoVerdict = 3 };

constexpr std::string_view kUsage = R"(Usage: quillfen-cli check [--hours HOURS]

Tells how this Mac's Time Machine backups have been behaving, from the
Time Machine entries of its unified log.

Commands:
  check          Analyse the last HOURS of Time Machine log entries and print
                 the report, exactly as the window shows it.

Options:
  --hours HOURS  The period to analyse, 1 to 48 hours (default 2). Read as the
                 window's period field reads it: the whole number at the start,
                 below 1 counts as 1, above 48 as 48.
  -h, --help     Show this help and exit.

Exit status:
  0  green: backups look healthy
  1  orange: something needs a look
  2  red: backups have a problem
  3  no verdict: a tool failed, the log could not be read, or bad usage
)";

// Prints every alert as its message text, a blank and its informative text.
class StderrAlerts final : public AlertPresenter {
public:
    void runModal(const Alert& alert) override
    {
        std::cerr << alert.messageText << ' ' << alert.informativeText << '\n';
    }
};

struct Arguments {
    std::string command;
    std::optional<std::string> hours;
};

int usageError(const std::string& message)
{
    std::cerr << "quillfen-cli: " << message << "\nTry 'quillfen-cli --help' for more information.\n";
    return kNoVerdict;
}

int exitStatusFor(const std::optional<SystemColour>& light)
{
    if (!light || *light == SystemColour::Grey)
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

int runCheck(const Arguments& arguments)
{
    headless::Window window;
    headless::FifoMainQueue mainQueue;
    StderrAlerts alerts;
    InMemoryDefaults defaults;
    SystemClock clock;
    const ToolPaths paths = ToolPaths::fromEnvironment();
    const RunTool runTool = makeRunTool(paths);
    StatvfsVolumes volumes(paths.root());
    ViewController controller(
        WindowControls{window.periodText, window.periodStep, window.trafficLight, window.outputTextScroll,
                       window.outputText, window.apfsButton, window.progressSpinner},
        ControllerServices{mainQueue, alerts, defaults, clock, runTool, volumes, queryOsVersion(runTool)});
    controller.viewDidLoad();
    if (arguments.hours)
        window.periodText.setText(*arguments.hours);

    controller.runCheckButton();
    while (!window.progressSpinner.isHidden())
        mainQueue.runOne();

    const std::string report = window.outputText.plainText();
    std::fwrite(report.data(), 1, report.size(), stdout);
    return exitStatusFor(window.trafficLight.colour());
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--hours") {
            if (i + 1 >= argc)
                return usageError("option '--hours' needs a value");
            arguments.hours = argv[++i];
        } else if (arg.starts_with("--hours=")) {
            arguments.hours = std::string(arg.substr(8));
        } else if (arg.starts_with("-")) {
            return usageError("unknown option '" + std::string(arg) + "'");
        } else if (arguments.command.empty()) {
            arguments.command = arg;
        } else {
            return usageError("unexpected argument '" + std::string(arg) + "'");
        }
    }
    if (arguments.command.empty())
        return usageError("no command given");
    if (arguments.command != "check")
        return usageError("unknown command '" + arguments.command + "'");
    return runCheck(arguments);
}
