#pragma once

#include "analysis/Tally.h"
#include "platform/Controls.h"
#include "platform/Date.h"
#include "platform/OsVersion.h"
#include "platform/Process.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// What the controller needs from the system, handed in by whoever builds it
// (the app, the CLI, a test). All of it outlives the controller.
struct ControllerServices {
    MainQueue& mainQueue;
    AlertPresenter& alerts;
    UserDefaults& defaults;
    const Clock& clock;
    RunTool runTool;
    const VolumeQueries& volumes;
    OsVersion systemVersion;
};

// The window's controls, connected before the view loads.
struct WindowControls {
    TextField& periodText;
    Stepper& periodStep;
    ColourWell& trafficLight;
    View& outputTextScroll;
    TextView& outputText;
    Button& theAPFSButton;
    ProgressIndicator& progressSpinner;
};

inline constexpr std::string_view kFontSizeKey = "fontSize";

// What the last Check run found beyond the controller's statistics, for front
// ends that report in figures rather than text.
struct CheckRecord {
    bool decoded = false; // the log output was analysed
    AnalysisValues values;
    bool schedulerCheckRan = false;
    std::string dasVerdict; // empty when that query failed
    std::string ctsVerdict;
};

// The controller of one main window: the whole state of its checks, and the
// operations the window's buttons run. Main thread only, except the tool runs
// it hands to processingQueue. The backup statistics it inherits are the ones
// every analysis starts afresh.
class ViewController : public BackupTally {
public:
    ViewController(const WindowControls& controls, ControllerServices services);
    ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    void viewDidLoad();

    // Actions of the window's controls; the senders are not needed.
    void setThePeriodText() { readPeriodField(); }
    void stepPeriodText() { readPeriodStepper(); }
    void incFontSize();
    void decFontSize();
    void runCheckButton() { runTMCheck(); }

    void readPeriodField();
    void readPeriodStepper();

    // The report: replaced, extended or restyled, always in the one report style.
    void setReportText(std::string_view text);
    void appendReportText(std::string_view text);
    void restyleReport();
    ReportStyle reportStyle() const;

    // The Check run: started here, its query on processingQueue, finished on the main queue.
    void runTMCheck();
    static ToolResult queryTMLog(const RunTool& runTool, const std::vector<std::string>& args);
    void finishTMCheck(const ToolResult& result);
    void analyseBackupLog(const ByteBuffer& output);

    // The Speed and APFS listings, run by one shared runner.
    using ListingOperation = void (ViewController::*)(const ByteBuffer& output);
    void runSpeedButton() { runLogListing(theBaseCmdStrSpeed, &ViewController::listSpeedEntries); }
    void runAPFSButton() { runLogListing(theBaseCmdStrAPFS, &ViewController::listAPFSEntries); }
    void runLogListing(const std::vector<std::string>& baseArguments, ListingOperation listing);
    void finishLogListing(const ToolResult& result, ListingOperation listing);
    void listSpeedEntries(const ByteBuffer& output);
    void listAPFSEntries(const ByteBuffer& output);

    // Back up now: asks Time Machine to start a backup and reports only a failure.
    void runBackupNow() { startBackupNow(); }
    void startBackupNow();
    void finishBackupNow(const ToolResult& result);

    const CheckRecord& lastCheck() const { return lastCheck_; }

    // The modal error alert every check uses for a failed tool run.
    void showErrorAlert(const std::string& text);

    std::int64_t theTimePeriod = 2;
    const std::vector<std::string> theBaseCmdStrTM;
    const std::vector<std::string> theBaseCmdStrDAS;
    const std::vector<std::string> theBaseCmdStrCTS;
    const std::vector<std::string> theBaseCmdStrSpeed;
    const std::vector<std::string> theBaseCmdStrAPFS;
    bool runDAScheck = false;
    double lastTimeBetween = 0.0;
    double theFontSize = 12.0;
    std::int64_t osVersion = 10;
    TextField& periodText;
    Stepper& periodStep;
    ColourWell& trafficLight;
    View& outputTextScroll;
    TextView& outputText;
    Button& theAPFSButton;
    ProgressIndicator& progressSpinner;
    OperationQueue processingQueue{4};

private:
    void showBusyIndicator();
    void hideBusyIndicator();
    void clampTimePeriod();
    void setFontSize(double size);
    // Runs `work` on processingQueue and hands its result to `finish` on the
    // main queue, unless the window has closed by then.
    void runInBackground(std::function<ToolResult()> work, std::function<void(ViewController&, ToolResult&)> finish);

    ControllerServices services_;
    CheckRecord lastCheck_;
    // Expires with the controller, so late completions of closed windows do nothing.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

} // namespace quillfen
