#include "controller/ViewController.h"

#include "analysis/Formatting.h"
#include "logquery/LogQuery.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace quillfen {

namespace {

constexpr double kDefaultFontSize = 12.0;
constexpr double kMinimumFontSize = 4.0;
constexpr double kMaximumFontSize = 60.0;

} // namespace

ViewController::ViewController(const WindowControls& controls, ControllerServices services)
    : theBaseCmdStrTM(baseLogArguments(kPredicateTM)), theBaseCmdStrDAS(baseLogArguments(kPredicateDAS)),
      theBaseCmdStrCTS(baseLogArguments(kPredicateCTS)), theBaseCmdStrSpeed(baseLogArguments(kPredicateSpeed)),
      theBaseCmdStrAPFS(baseLogArguments(kPredicateAPFS)), periodText(controls.periodText),
      periodStep(controls.periodStep), trafficLight(controls.trafficLight), outputTextScroll(controls.outputTextScroll),
      outputText(controls.outputText), theAPFSButton(controls.theAPFSButton), progressSpinner(controls.progressSpinner),
      timeline(controls.timeline), services_(std::move(services))
{
    // Before any analysis the window holds no verdict and its dates are its creation time.
    const Date now = services_.clock.now();
    lastCheck_.found.tally.lastBUEnd = now;
    lastCheck_.found.tally.lastManualBackup = now;
    lastCheck_.found.assessment.BUassessment = BackupAssessment::none;
}

ViewController::~ViewController()
{
    results_->close();
}

void ViewController::viewDidLoad()
{
    const double stored = services_.defaults.doubleForKey(std::string(kFontSizeKey));
    theFontSize = stored < kMinimumFontSize ? kDefaultFontSize : stored;
    const std::string period = std::to_string(theTimePeriod);
    periodText.setText(period);
    periodStep.setStringValue(period);
    trafficLight.setColour(SystemColour::Grey);
    progressSpinner.setHidden(true);
    timeline.showTimeline(emptyTimeline(services_.clock.now(), theTimePeriod));
    if (services_.systemVersion.version)
        osVersion = Release::of(*services_.systemVersion.version);
    if (!osVersion.backsUpToAPFS()) {
        theAPFSButton.setHidden(true);
        theAPFSButton.setEnabled(false);
    }
}

void ViewController::readPeriodField()
{
    theTimePeriod = periodText.integerValue();
    if (theTimePeriod < 1) {
        theTimePeriod = 1;
        periodText.setIntegerValue(1);
    } else if (theTimePeriod >= 49) {
        theTimePeriod = 48;
        periodText.setIntegerValue(48);
    }
    periodStep.setIntegerValue(theTimePeriod);
}

void ViewController::readPeriodStepper()
{
    theTimePeriod = periodStep.integerValue();
    periodText.setIntegerValue(theTimePeriod);
}

void ViewController::setFontSize(double size)
{
    theFontSize = size;
    services_.defaults.setDouble(std::string(kFontSizeKey), theFontSize);
    restyleReport();
}

void ViewController::incFontSize()
{
    setFontSize(std::min(theFontSize + 1.0, kMaximumFontSize));
}

void ViewController::decFontSize()
{
    setFontSize(std::max(theFontSize - 1.0, kMinimumFontSize));
}

ReportStyle ViewController::reportStyle() const
{
    return ReportStyle{osVersion.hasMonospacedSystemFont() ? ReportFont::MonospacedSystem
                                                           : ReportFont::MonospacedDigitSystem,
                       theFontSize};
}

void ViewController::setReportText(std::string_view text)
{
    outputText.replaceText(text, reportStyle());
}

void ViewController::appendReportText(std::string_view text)
{
    outputText.appendText(text, reportStyle());
}

void ViewController::restyleReport()
{
    outputText.replaceText(outputText.plainText(), reportStyle());
}

void ViewController::showErrorAlert(const std::string& text)
{
    services_.alerts.runModal(Alert{AlertStyle::Critical, "An error occurred in your last action:", text, "OK"});
}

void ViewController::showBusyIndicator()
{
    progressSpinner.setHidden(false);
    progressSpinner.setUsesThreadedAnimation(true);
    progressSpinner.startAnimation();
}

void ViewController::hideBusyIndicator()
{
    progressSpinner.stopAnimation();
    progressSpinner.setHidden(true);
}

void ViewController::clampTimePeriod()
{
    theTimePeriod = std::clamp<std::int64_t>(theTimePeriod, 1, 48);
}

void ViewController::useLogFile(std::string path, bool periodFromFile)
{
    logFile_ = std::move(path);
    periodFromFile_ = periodFromFile;
}

void ViewController::readLogFile(std::vector<std::string_view> predicates,
                                 std::function<void(ViewController&, SavedLogResult&)> finish)
{
    // Without a period of its own, the file's span decides it, up to the longest period.
    const std::int64_t hours = periodFromFile_ ? 48 : theTimePeriod;
    const SavedLogLimits limits{static_cast<double>(hours) * 60 * 60};
    runInBackground<SavedLogResult>(
        [path = *logFile_, predicates = std::move(predicates), limits, runTool = services_.runTool] {
            return readSavedLog(path, predicates, limits, runTool);
        },
        std::move(finish));
}

const SavedLog* ViewController::acceptLogFile(const SavedLogResult& result)
{
    if (!result.log) {
        showErrorAlert("The log file \"" + logFileName() + "\" could not be read: " + result.failure + ".");
        return nullptr;
    }
    logFileReading_ = result.log->readingNote();
    if (periodFromFile_) {
        periodFromFile_ = false;
        theTimePeriod = result.log->hoursSpanned();
        periodText.setIntegerValue(theTimePeriod);
        periodStep.setIntegerValue(theTimePeriod);
    }
    return &*result.log;
}

std::string ViewController::withSourceNote(std::string text) const
{
    if (!logFile_)
        return text;
    std::string release;
    if (const SystemVersion& system = services_.systemVersion; system.version) {
        const std::string number = std::to_string(system.version->major) + "." + std::to_string(system.version->minor);
        release = system.named ? "macOS " + number + " (--macos)" : "this Mac's macOS " + number;
    }
    return logFileNote(logFileName(), logFileReading_, release) + text;
}

std::string ViewController::logFileName() const
{
    // A path that ends in a separator has no file name of its own.
    const std::string name = std::filesystem::path(*logFile_).filename().string();
    return name.empty() ? *logFile_ : name;
}

} // namespace quillfen
