#pragma once

#include "platform/Controls.h"
#include "platform/Date.h"
#include "platform/OsVersion.h"
#include "platform/Process.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "service/CheckService.h"
#include "timeline/Timeline.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Told of each Check of this Mac's own log that a window runs, so that the watch in the menu bar
// counts it as one of its own. Main thread only.
class CheckObserver {
public:
    virtual ~CheckObserver() = default;
    virtual void checkStarted(std::int64_t hours) = 0;
    virtual void checkFinished(const CheckResult& result) = 0;
};

// What the controller needs from the system, handed in by whoever builds it
// (the app, a test): its alerts and preferences, which outlive it, and what its runs need.
struct ControllerServices {
    AlertPresenter& alerts;
    UserDefaults& defaults;
    CheckServices checks;
    CheckObserver* observer = nullptr; // outlives the controller
};

// The window's controls, connected before the view loads.
struct WindowControls {
    TextField& periodText;
    Stepper& periodStep;
    ColourWell& trafficLight;
    TextView& outputText;
    Button& theAPFSButton;
    ProgressIndicator& progressSpinner;
    // Beside the busy indicator: how far a long run has come.
    TextField& progressLabel;
    TimelineView& timeline;
};

// The controls of any window that holds them under these names (Qt widgets or headless ones).
template <typename Window> WindowControls controlsOf(Window& window, TimelineView& timeline)
{
    return {window.periodText, window.periodStep,      window.trafficLight,  window.outputText,
            window.apfsButton, window.progressSpinner, window.progressLabel, timeline};
}

inline constexpr std::string_view kFontSizeKey = "fontSize";

// The controller of one main window: its period and font settings, and the
// buttons' runs, which the check service carries out; it shows their results
// and decides nothing of them. Main thread only.
class ViewController {
public:
    ViewController(const WindowControls& controls, ControllerServices services);
    ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    void viewDidLoad();

    // Every check of this window reads the saved log at `path` instead of
    // running the log tool. With `periodFromFile`, the next check's period
    // reaches back to the file's oldest entry (1 to 48 hours) and the period
    // field shows it; later checks read the field again.
    void useLogFile(std::string path, bool periodFromFile);

    // Actions of the window's controls; the senders are not needed.
    void setThePeriodText() { readPeriodField(); }
    void stepPeriodText() { readPeriodStepper(); }
    void incFontSize();
    void decFontSize();
    void runCheckButton();
    void runSpeedButton() { runListing(Listing::speed); }
    void runAPFSButton() { runListing(Listing::apfs); }
    void runBackupNow();
    // A Check's result, from this window or from elsewhere (the watch in the menu bar); a failed run's
    // leaves the window as it was.
    void showResult(const CheckResult& result);

    void readPeriodField();
    void readPeriodStepper();

    // The report: replaced or restyled, always in the one report style.
    void setReportText(std::string_view text);
    void restyleReport();
    ReportStyle reportStyle() const;
    // The report as the window shows it, for saving.
    std::string reportText() const { return outputText.plainText(); }
    // The saved log this window's checks read, if any.
    const std::optional<std::string>& logFile() const { return logFile_; }

    std::int64_t theTimePeriod = 2;
    double theFontSize = 12.0;
    Release osVersion{10};

private:
    void showErrorAlert(const std::string& text);
    void showBusyIndicator();
    void hideBusyIndicator();
    void setFontSize(double size);
    void runListing(Listing listing);
    // Reads the period field and shows the busy indicator: what each run takes from the window.
    CheckRequest startRun();
    // A run's period, when it came from the saved log, goes back to the field.
    void showPeriodOf(const CheckRequest& request, std::int64_t hours);
    void showAlerts(const std::vector<std::string>& alerts);
    void showCheck(const CheckResult& result, const CheckRequest& request);
    void showListing(const ListingResult& result, const CheckRequest& request);

    TextField& periodText;
    Stepper& periodStep;
    ColourWell& trafficLight;
    TextView& outputText;
    Button& theAPFSButton;
    ProgressIndicator& progressSpinner;
    TextField& progressLabel;
    // The picture of the last Check's period, above its report.
    TimelineView& timeline;

    ControllerServices services_;
    std::optional<std::string> logFile_;
    bool periodFromFile_ = false;
    // Where runs post their progress lines; closed with the window, so that late ones are dropped.
    std::shared_ptr<ClosableMainQueue> progressLines_;
    // Last, so that it goes first: the results of runs still under way go with it.
    CheckService service_;
};

} // namespace quillfen
