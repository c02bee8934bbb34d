#pragma once

#include "analysis/Analysis.h"
#include "checks/SchedulerCheck.h"
#include "logquery/LogFile.h"
#include "logquery/LogQuery.h"
#include "platform/Controls.h"
#include "platform/Date.h"
#include "platform/OsVersion.h"
#include "platform/Process.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "timeline/Timeline.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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
    SystemVersion systemVersion;
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
    TimelineView& timeline;
};

// The controls of any window that holds them under these names (Qt widgets or headless ones).
template <typename Window> WindowControls controlsOf(Window& window, TimelineView& timeline)
{
    return {window.periodText, window.periodStep, window.trafficLight,    window.outputTextScroll,
            window.outputText, window.apfsButton, window.progressSpinner, timeline};
}

inline constexpr std::string_view kFontSizeKey = "fontSize";

// What the last Check found: the tally, what it means, where the report's
// lines stand, and the scheduler's verdicts. Written by the controller alone.
struct CheckResult {
    bool decoded = false; // the log output was analysed
    Date end;             // the end of the analysed period
    BackupAnalysis found;
    bool schedulerCheckRan = false;
    std::string dasVerdict; // empty when that query failed
    std::string ctsVerdict;
    SchedulerFinding dasFinding = SchedulerFinding::unknown;
    SchedulerFinding ctsFinding = SchedulerFinding::unknown;
};

// The controller of one main window: the whole state of its checks, and the
// operations the window's buttons run. Main thread only, except the tool runs
// it hands to processingQueue.
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
    const std::optional<std::string>& logFile() const { return logFile_; }

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
    // The query decodes its output in the background and tallies each entry
    // as it comes, so that no entry is kept and the main thread is left only
    // the assessment and the report.
    struct TalliedLog {
        LogStreamResult stream;
        BackupAnalysis found; // counts only when the output is an array
    };
    static TalliedLog queryTMLog(const RunTool& runTool, const std::vector<std::string>& args, Release release);
    void finishTMCheck(TalliedLog& result);
    void finishFileCheck(const SavedLogResult& result);
    void analyseBackupLog(TalliedLog& log);

    // The Speed and APFS listings, run by one shared runner on the tool's
    // output or the log file's entries; `end` closes the listed period.
    using ListingOperation = void (ViewController::*)(std::span<const LogEntry> entries, Date end);
    void runSpeedButton();
    void runAPFSButton();
    // `keep` chooses the entries of the tool's output that the listing may show.
    void runLogListing(const std::vector<std::string>& baseArguments, EntryFilter keep, ListingOperation listing);
    void finishLogListing(const LogQueryResult& result, ListingOperation listing);
    void finishFileListing(const SavedLogResult& result, ListingOperation listing);
    void listSpeedEntries(std::span<const LogEntry> entries, Date end);
    void listAPFSEntries(std::span<const LogEntry> entries, Date end);

    // Back up now: asks Time Machine to start a backup and reports only a failure.
    void runBackupNow() { startBackupNow(); }
    void startBackupNow();
    void finishBackupNow(const ToolResult& result);

    const CheckResult& lastCheck() const { return lastCheck_; }

    // The modal error alert every check uses for a failed tool run.
    void showErrorAlert(const std::string& text);

    std::int64_t theTimePeriod = 2;
    const std::vector<std::string> theBaseCmdStrTM;
    const std::vector<std::string> theBaseCmdStrDAS;
    const std::vector<std::string> theBaseCmdStrCTS;
    const std::vector<std::string> theBaseCmdStrSpeed;
    const std::vector<std::string> theBaseCmdStrAPFS;
    double lastTimeBetween = 0.0;
    double theFontSize = 12.0;
    Release osVersion{10};
    TextField& periodText;
    Stepper& periodStep;
    ColourWell& trafficLight;
    View& outputTextScroll;
    TextView& outputText;
    Button& theAPFSButton;
    ProgressIndicator& progressSpinner;
    // The picture of the last Check's period, above its report.
    TimelineView& timeline;
    OperationQueue processingQueue{4};

private:
    void showBusyIndicator();
    void hideBusyIndicator();
    void clampTimePeriod();
    void setFontSize(double size);
    // Runs `work` on processingQueue and hands its result to `finish` on the
    // main queue, unless the window has closed by then.
    template <typename Result>
    void runInBackground(std::function<Result()> work, std::function<void(ViewController&, Result&)> finish);
    // Reads the log file on processingQueue, keeping what the predicates select.
    void readLogFile(std::vector<std::string_view> predicates,
                     std::function<void(ViewController&, SavedLogResult&)> finish);
    // The log file's entries as the checks read them: nothing (after the error
    // alert) when the file could not be read; otherwise the period is settled.
    const SavedLog* acceptLogFile(const SavedLogResult& result);
    // The report text: the log file's note, if any, before `text`.
    std::string withSourceNote(std::string text) const;
    // The log file as the report and alerts name it.
    std::string logFileName() const;
    void analyseEntries(std::span<const LogEntry> entries, Date end, const Clock& clock);
    // Assesses the tally in lastCheck_, shows the report and the light, and draws the timeline.
    void reportAnalysis(Date end, const Clock& clock);
    // Caps DAScheckPeriod and, when the analysis asked for it, has `run` give the scheduler verdicts.
    void finishSchedulerCheck(const std::function<void(const SchedulerVerdictSink&)>& run);

    ControllerServices services_;
    CheckResult lastCheck_;
    std::optional<std::string> logFile_;
    bool periodFromFile_ = false;
    std::string logFileReading_; // how the last read of the file went, for the source note
    // Where background runs hand in their results; closed with the controller, so
    // that late results of a closed window, or of a quit application, are dropped.
    std::shared_ptr<ClosableMainQueue> results_ = std::make_shared<ClosableMainQueue>(services_.mainQueue);
};

template <typename Result>
void ViewController::runInBackground(std::function<Result()> work, std::function<void(ViewController&, Result&)> finish)
{
    // The background closure touches nothing of the controller, which may close meanwhile.
    processingQueue.add([work = std::move(work), finish = std::move(finish), results = results_, self = this] {
        auto result = std::make_shared<Result>(work());
        results->post([finish, results, self, result] {
            if (results->isOpen())
                finish(*self, *result);
        });
    });
}

} // namespace quillfen
