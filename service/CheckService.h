#pragma once

#include "analysis/Analysis.h"
#include "checks/SchedulerCheck.h"
#include "platform/Date.h"
#include "platform/OsVersion.h"
#include "platform/Process.h"
#include "platform/Queues.h"
#include "platform/Volumes.h"
#include "service/Progress.h"
#include "timeline/Timeline.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The message text of the alert that shows a run's failure; the failure is its informative text.
inline constexpr std::string_view kErrorAlertMessage = "An error occurred in your last action:";

// What the service needs from the system, handed in by whoever builds it. The
// queue outlives the service; the clock and the volumes are shared with every
// run, which may end after the service and its owner.
struct CheckServices {
    MainQueue& mainQueue;
    std::shared_ptr<const Clock> clock;
    RunTool runTool;
    std::shared_ptr<const VolumeQueries> volumes;
    SystemVersion systemVersion;
};

// What a run reads: the last `hours` of the Mac's log, or of a saved log.
struct CheckRequest {
    std::int64_t hours = 2; // 1 to 48
    std::optional<std::string> logFile;
    // A saved log's period reaches back to its oldest entry (1 to 48 hours) instead.
    bool periodFromFile = false;
    // Told how far the reading has come, on the run's thread; the caller limits how often it shows it.
    ProgressHandler progress;
};

enum class RunStatus {
    finished,    // a verdict, or a listing
    undecodable, // the log tool's output could not be decoded
    failed,      // a tool failed, or the release or the saved log could not be read: the alerts say why
};

// One Check, whole. The window, the command line, the timeline and every fleet
// format read it; none of them decides anything again.
struct CheckResult {
    RunStatus status = RunStatus::failed;
    std::int64_t hours = 2; // the period read
    Date end;               // the period's end
    bool savedLog = false;
    BackupAnalysis found; // the tally, the assessment (the light and every cause) and the report's layout
    std::optional<SchedulerVerdicts> scheduler; // when the assessment asked for the scheduler check
    std::string report;                         // none when the run failed
    std::vector<std::string> alerts;            // the error alerts' informative texts, in order
    TimelineFacts timeline;

    // The light, when the Check gave a verdict.
    std::optional<BackupAssessment> light() const
    {
        return status == RunStatus::finished ? std::optional(found.assessment.BUassessment) : std::nullopt;
    }
};

enum class Listing { speed, apfs };

// A Speed or APFS listing.
struct ListingResult {
    RunStatus status = RunStatus::failed;
    std::int64_t hours = 2;
    std::string text; // none when the run failed
    std::vector<std::string> alerts;
};

// The one way a Check, a listing or Back up now runs: the tools and the work on
// the entries in the background, at most four runs at once, each result handed
// to its `done` on the main queue, unless the service has gone by then.
class CheckService {
public:
    explicit CheckService(CheckServices services);
    ~CheckService();
    CheckService(const CheckService&) = delete;
    CheckService& operator=(const CheckService&) = delete;

    const SystemVersion& systemVersion() const { return services_.systemVersion; }

    void check(const CheckRequest& request, std::function<void(CheckResult&)> done);
    void list(Listing listing, const CheckRequest& request, std::function<void(ListingResult&)> done);
    // Asks Time Machine to start a backup; `done` gets the alerts of a failure, none on success.
    void backUpNow(std::function<void(std::vector<std::string>&)> done);

private:
    template <typename Result> void run(std::function<Result()> work, std::function<void(Result&)> done);

    CheckServices services_;
    // Where background runs hand in their results; closed with the service, so
    // that late results of a closed window, or of a quit application, are dropped.
    std::shared_ptr<ClosableMainQueue> results_;
    OperationQueue processingQueue_{4};
};

} // namespace quillfen
