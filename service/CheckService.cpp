#include "service/CheckService.h"

#include "analysis/Formatting.h"
#include "analysis/VolumeSpace.h"
#include "checks/Listings.h"
#include "logquery/LogFile.h"
#include "logquery/LogQuery.h"
#include "logquery/LogTimestamp.h"

#include <algorithm>

namespace quillfen {

namespace {

// The queries a Check reads from a log file, in this order.
enum FileCheckQuery : std::size_t { kFileTM, kFileDAS, kFileCTS, kFileEarlier };

const std::string kTmutilPath = "/usr/bin/tmutil";
const std::vector<std::string> kBackupNowArguments{"startbackup", "-a", "-r"};
const std::vector<std::string> kStatusArguments{"status"};

double seconds(std::int64_t hours)
{
    return static_cast<double>(hours) * 60 * 60;
}

// A saved log, read on the run's thread with what it needs to be named in the report.
class LogFileRun {
public:
    LogFileRun(const CheckServices& services, const CheckRequest& request, std::vector<std::string_view> predicates,
               SavedLogLimits limits = {})
        : read_(readSavedLog(*request.logFile, predicates, limitsFor(std::move(limits), request), services.runTool)),
          name_(logFileName(*request.logFile)), release_(releaseText(services.systemVersion))
    {
    }

    const SavedLog* log() const { return read_.log ? &*read_.log : nullptr; }
    std::string failure() const { return "The log file \"" + name_ + "\" could not be read: " + read_.failure + "."; }
    std::int64_t hours(const CheckRequest& request) const
    {
        return request.periodFromFile ? read_.log->hoursSpanned() : request.hours;
    }
    // The line that says where the report's entries come from.
    std::string note() const { return logFileNote(name_, read_.log->readingNote(), release_); }

private:
    static SavedLogLimits limitsFor(SavedLogLimits limits, const CheckRequest& request)
    {
        // Without a period of its own, the file's span decides it, up to the longest period.
        limits.keptSeconds = seconds(request.periodFromFile ? 48 : request.hours);
        if (request.progress)
            limits.bytesRead = [&progress = request.progress](std::uint64_t bytes, std::optional<std::uint64_t> size) {
                progress({bytes, size, 0});
            };
        return limits;
    }
    static std::string releaseText(const SystemVersion& system)
    {
        if (!system.version)
            return {};
        const std::string number = std::to_string(system.version->major) + "." + std::to_string(system.version->minor);
        return system.named ? "macOS " + number + " (--macos)" : "this Mac's macOS " + number;
    }

    SavedLogResult read_;
    std::string name_;
    std::string release_;
};

// Assesses and composes what was tallied, runs the scheduler check when the
// assessment asks for it, and collects the timeline.
void finishCheck(CheckResult& result, const ReportContext& context, std::string_view note,
                 const std::function<SchedulerVerdicts(std::int64_t minutes)>& checkScheduler)
{
    result.status = RunStatus::finished;
    result.end = context.analysisNow;
    result.report = std::string(note) + assessAndCompose(result.found, context);
    result.found.layout.moveDown(static_cast<std::size_t>(std::ranges::count(note, '\n')));
    CheckAssessment& assessment = result.found.assessment;
    if (assessment.runDAScheck) {
        result.scheduler = checkScheduler(assessment.DAScheckPeriod);
        assessScheduler(assessment, result.scheduler->dasFinding, result.scheduler->ctsFinding);
        result.report += result.scheduler->text();
        result.alerts.insert(result.alerts.end(), result.scheduler->alerts.begin(), result.scheduler->alerts.end());
    }
    result.timeline = collectTimeline(result.found, result.end, result.hours, context.logBegins);
}

// The entries of a Check's log tool runs, one after another, as one count for its progress.
class EntriesReceived {
public:
    explicit EntriesReceived(const ProgressHandler& progress) : progress_(progress) {}
    // For the next run, which counts from zero again.
    EntryCount nextRun()
    {
        before_ += latest_;
        latest_ = 0;
        if (!progress_)
            return {};
        return [this](std::uint64_t entries) {
            latest_ = entries;
            progress_({0, std::nullopt, before_ + entries});
        };
    }

private:
    const ProgressHandler& progress_;
    std::uint64_t before_ = 0;
    std::uint64_t latest_ = 0;
};

// What a live Check reads beyond its period when no backup completed in it: the
// log's starts and completions of the last days, and `tmutil status`. Neither
// is essential, so a failure is said in the report, not alerted.
void lookFurther(const CheckServices& services, BackupTally& tally, Date now, std::int64_t hours,
                 EntriesReceived& received)
{
    EarlierBackups earlier;
    const Date periodStart{now.sinceEpoch - seconds(hours)};
    // The log tool reads every entry of the days asked for, whatever the predicate, so the last day
    // comes first: backups are hourly, and most answers are there.
    for (const std::int64_t days : {std::int64_t{1}, kLookBackDays}) {
        earlier = {};
        const LogStreamResult stream = streamLogCommand(
            services.runTool, withPeriod(baseLogArguments(kPredicateEarlier), days, 'd'),
            [&earlier, periodStart](const LogEntry& entry) {
                if (const auto time = parseLogTimestamp(entry.timestamp); time && *time < periodStart)
                    earlier.note(*time, entry.eventMessage);
            },
            received.nextRun());
        std::optional<std::string> failure = toolFailureText(stream.run, "the log command");
        if (!failure && !isArray(stream.shape))
            failure = "its output could not be decoded";
        if (failure) {
            earlier = {};
            earlier.failure = std::move(failure);
        }
        if (earlier.failure || earlier.lastCompletion)
            break;
    }
    applyEarlier(tally, std::move(earlier), now);

    TextOutput output;
    const ToolResult status = services.runTool(kTmutilPath, kStatusArguments, &output);
    if (!toolFailureText(status, "tmutil") && !status.outputRefused)
        if (const auto running = readBackupStatus(output.text()))
            applyStatus(tally, *running);
}

CheckResult checkLiveMac(const CheckServices& services, const CheckRequest& request, Release release)
{
    CheckResult result;
    result.hours = request.hours;
    EntriesReceived received(request.progress);
    const LogStreamResult stream =
        streamLogCommand(services.runTool, withPeriod(baseLogArguments(kPredicateTM), request.hours, 'h'),
                         tallyInto(result.found.tally, release), received.nextRun());
    const Date now = services.clock->now();
    result.timeline = emptyTimeline(now, request.hours);
    if (auto failure = toolFailureText(stream.run, "TM log command")) {
        result.alerts.push_back(std::move(*failure));
        return result;
    }
    if (!isArray(stream.shape)) {
        result.status = RunStatus::undecodable;
        result.end = now;
        result.report = kParseErrorLine;
        return result;
    }
    if (result.found.tally.completedBackups() == 0)
        lookFurther(services, result.found.tally, now, request.hours, received);
    measureDestinations(result.found.tally, *services.volumes);
    finishCheck(
        result, ReportContext{now, request.hours, release, *services.clock, false}, {},
        [&services, release](std::int64_t minutes) { return runSchedulerCheck(services.runTool, minutes, release); });
    return result;
}

CheckResult checkLogFile(const CheckServices& services, const CheckRequest& request, Release release)
{
    CheckResult result;
    result.savedLog = true;
    result.hours = request.hours;
    // The entries before the period are summed up as the file is read, in bounded memory.
    EarlierBackups earlier;
    BackupTally& tally = result.found.tally;
    SavedLogLimits limits;
    limits.passedOver = [&earlier](std::size_t query, const KeptEntry& entry) {
        if (query == kFileEarlier)
            earlier.note(entry.time, entry.eventMessage);
    };
    // The period's entries are tallied as they are read, as the live Check does.
    limits.tally = [&tally, release](const LogEntry& entry) { tallyEntry(tally, entry, release); };
    limits.startTally = [&tally, &earlier] {
        tally = {};
        earlier = {};
    };
    limits.newestOnly = {kFileDAS, kFileCTS};
    const LogFileRun file(services, request, {kPredicateTM, kPredicateDAS, ctsPredicate(release), kPredicateEarlier},
                          std::move(limits));
    const SavedLog* log = file.log();
    if (!log) {
        result.timeline = emptyTimeline(services.clock->now(), request.hours);
        result.alerts.push_back(file.failure());
        return result;
    }
    result.hours = file.hours(request);
    const Date periodStart{log->newest.sinceEpoch - seconds(result.hours)};
    if (!log->tallied)
        for (const LogEntry& entry : log->inPeriod(kFileTM, seconds(result.hours)))
            tallyEntry(tally, entry, release);
    if (tally.completedBackups() == 0) {
        for (const KeptEntry& entry : log->queries[kFileEarlier].entries)
            if (entry.time < periodStart)
                earlier.note(entry.time, entry.eventMessage);
        earlier.logBegins = log->oldest;
        applyEarlier(tally, std::move(earlier), log->newest);
    }
    const StoppedClock clock(log->newest);
    // A period taken from the file is its span rounded up to whole hours, so it begins with the file.
    const auto logBegins =
        log->oldest > periodStart && !request.periodFromFile ? std::optional(log->oldest) : std::nullopt;
    finishCheck(result, ReportContext{log->newest, result.hours, release, clock, true, logBegins}, file.note(),
                [log, release](std::int64_t minutes) {
                    return checkSchedulerInFile(*log, kFileDAS, kFileCTS, minutes, release);
                });
    return result;
}

CheckResult checkRun(const CheckServices& services, const CheckRequest& request)
{
    // The report depends on the release; none is made up.
    if (!services.systemVersion.version) {
        CheckResult result;
        result.hours = request.hours;
        result.timeline = emptyTimeline(services.clock->now(), request.hours);
        result.alerts.push_back(services.systemVersion.failure);
        return result;
    }
    const Release release = Release::of(*services.systemVersion.version);
    return request.logFile ? checkLogFile(services, request, release) : checkLiveMac(services, request, release);
}

std::string listingOf(Listing listing, std::span<const LogEntry> entries, Date end, std::int64_t hours)
{
    return listing == Listing::speed ? speedListing(entries, end, hours) : apfsListing(entries, end, hours);
}

ListingResult listRun(const CheckServices& services, Listing listing, const CheckRequest& request)
{
    const std::string_view predicate = listing == Listing::speed ? kPredicateSpeed : kPredicateAPFS;
    ListingResult result;
    result.hours = request.hours;
    if (request.logFile) {
        const LogFileRun file(services, request, {predicate});
        if (const SavedLog* log = file.log()) {
            result.status = RunStatus::finished;
            result.hours = file.hours(request);
            result.text =
                file.note() + listingOf(listing, log->inPeriod(0, seconds(result.hours)), log->newest, result.hours);
        } else {
            result.alerts.push_back(file.failure());
        }
        return result;
    }
    const EntryFilter keep = [listing](const LogEntry& entry) {
        return listing == Listing::speed || hasAPFSMarker(entry.eventMessage);
    };
    EntriesReceived received(request.progress);
    const LogQueryResult query = runLogCommand(
        services.runTool, withPeriod(baseLogArguments(predicate), request.hours, 'h'), keep, received.nextRun());
    const Date now = services.clock->now();
    if (auto failure = toolFailureText(query.run, "TM log command")) {
        result.alerts.push_back(std::move(*failure));
    } else if (query.log.isArray()) {
        result.status = RunStatus::finished;
        result.text = listingOf(listing, query.log.views(), now, request.hours);
    } else {
        result.status = RunStatus::undecodable;
        result.text = undecodableListing(now, request.hours);
    }
    return result;
}

} // namespace

CheckService::CheckService(CheckServices services)
    : services_(std::move(services)), results_(std::make_shared<ClosableMainQueue>(services_.mainQueue))
{
}

CheckService::~CheckService()
{
    results_->close();
}

template <typename Result> void CheckService::run(std::function<Result()> work, std::function<void(Result&)> done)
{
    processingQueue_.add([work = std::move(work), done = std::move(done), results = results_] {
        auto result = std::make_shared<Result>(work());
        results->post([done, results, result] {
            if (results->isOpen())
                done(*result);
        });
    });
}

void CheckService::check(const CheckRequest& request, std::function<void(CheckResult&)> done)
{
    run<CheckResult>([services = services_, request] { return checkRun(services, request); }, std::move(done));
}

void CheckService::list(Listing listing, const CheckRequest& request, std::function<void(ListingResult&)> done)
{
    run<ListingResult>([services = services_, listing, request] { return listRun(services, listing, request); },
                       std::move(done));
}

void CheckService::backUpNow(std::function<void(std::vector<std::string>&)> done)
{
    run<std::vector<std::string>>(
        [runTool = services_.runTool] {
            std::vector<std::string> alerts;
            if (auto failure = toolFailureText(runTool(kTmutilPath, kBackupNowArguments, nullptr), "Back up command"))
                alerts.push_back(std::move(*failure));
            return alerts;
        },
        std::move(done));
}

} // namespace quillfen
