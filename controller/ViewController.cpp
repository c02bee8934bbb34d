#include "controller/ViewController.h"

#include <algorithm>
#include <string>

namespace quillfen {

namespace {

constexpr double kDefaultFontSize = 12.0;
constexpr double kMinimumFontSize = 4.0;
constexpr double kMaximumFontSize = 60.0;

} // namespace

ViewController::ViewController(const WindowControls& controls, ControllerServices services)
    : periodText(controls.periodText), periodStep(controls.periodStep), trafficLight(controls.trafficLight),
      outputText(controls.outputText), theAPFSButton(controls.theAPFSButton), progressSpinner(controls.progressSpinner),
      progressLabel(controls.progressLabel), timeline(controls.timeline), services_(std::move(services)),
      progressLines_(std::make_shared<ClosableMainQueue>(services_.checks.mainQueue)), service_(services_.checks)
{
}

ViewController::~ViewController()
{
    progressLines_->close();
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
    // Before any Check the period is only an axis: no result, so no finding on it.
    timeline.showTimeline(emptyTimeline(services_.checks.clock->now(), theTimePeriod));
    if (const SystemVersion& system = service_.systemVersion(); system.version)
        osVersion = Release::of(*system.version);
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

void ViewController::restyleReport()
{
    outputText.replaceText(outputText.plainText(), reportStyle());
}

void ViewController::showErrorAlert(const std::string& text)
{
    services_.alerts.runModal(Alert{AlertStyle::Critical, std::string(kErrorAlertMessage), text, "OK"});
}

void ViewController::showAlerts(const std::vector<std::string>& alerts)
{
    for (const std::string& alert : alerts)
        showErrorAlert(alert);
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
    progressLabel.setText({});
}

void ViewController::useLogFile(std::string path, bool periodFromFile)
{
    logFile_ = std::move(path);
    periodFromFile_ = periodFromFile;
}

CheckRequest ViewController::startRun()
{
    readPeriodField();
    showBusyIndicator();
    CheckRequest request{theTimePeriod, logFile_, periodFromFile_, {}};
    // The run reports on its own thread; the line, due a few times a second at most, comes to the label
    // on the main queue, unless the window has gone.
    request.progress = [line = std::make_shared<ProgressLine>(logFile_, services_.checks.clock), lines = progressLines_,
                        label = &progressLabel](const RunProgress& progress) {
        line->report(progress);
        if (auto text = line->due())
            lines->post([lines, label, text = std::move(*text)] {
                if (lines->isOpen())
                    label->setText(text);
            });
    };
    return request;
}

void ViewController::showPeriodOf(const CheckRequest& request, std::int64_t hours)
{
    if (!request.periodFromFile)
        return;
    periodFromFile_ = false;
    theTimePeriod = hours;
    periodText.setIntegerValue(theTimePeriod);
    periodStep.setIntegerValue(theTimePeriod);
}

void ViewController::runCheckButton()
{
    const CheckRequest request = startRun();
    CheckObserver* observer = request.logFile ? nullptr : services_.observer;
    if (observer)
        observer->checkStarted(request.hours);
    service_.check(request, [this, request, observer](const CheckResult& result) {
        showCheck(result, request);
        if (observer)
            observer->checkFinished(result);
    });
}

// Output that could not be decoded replaces the report but gives no verdict.
void ViewController::showResult(const CheckResult& result)
{
    if (result.status == RunStatus::failed)
        return;
    setReportText(result.report);
    if (const auto light = result.light())
        trafficLight.setColour(lightColour(*light));
    timeline.showTimeline(result.timeline);
}

// A failed run leaves the report, the light and the timeline as they were.
void ViewController::showCheck(const CheckResult& result, const CheckRequest& request)
{
    if (result.status != RunStatus::failed)
        showPeriodOf(request, result.hours);
    showResult(result);
    showAlerts(result.alerts);
    hideBusyIndicator();
}

void ViewController::runListing(Listing listing)
{
    const CheckRequest request = startRun();
    service_.list(listing, request, [this, request](ListingResult& result) { showListing(result, request); });
}

void ViewController::showListing(const ListingResult& result, const CheckRequest& request)
{
    if (result.status != RunStatus::failed) {
        showPeriodOf(request, result.hours);
        setReportText(result.text);
    }
    showAlerts(result.alerts);
    hideBusyIndicator();
}

void ViewController::runBackupNow()
{
    showBusyIndicator();
    service_.backUpNow([this](const std::vector<std::string>& alerts) {
        showAlerts(alerts);
        hideBusyIndicator();
    });
}

} // namespace quillfen
