#include "analysis/Analysis.h"
#include "analysis/VolumeSpace.h"
#include "checks/SchedulerCheck.h"
#include "controller/ViewController.h"
#include "logquery/LogDecoder.h"
#include "logquery/LogQuery.h"

#include <algorithm>

namespace quillfen {

namespace {

// The queries a Check reads from a log file, in this order.
enum FileCheckQuery : std::size_t { kFileTM, kFileDAS, kFileCTS };

} // namespace

void ViewController::runTMCheck()
{
    // The report depends on the release; none is made up.
    if (!services_.systemVersion.version) {
        showErrorAlert(services_.systemVersion.failure);
        return;
    }
    readPeriodField();
    showBusyIndicator();
    clampTimePeriod();
    if (logFile_) {
        readLogFile({kPredicateTM, kPredicateDAS, kPredicateCTS},
                    [](ViewController& self, SavedLogResult& result) { self.finishFileCheck(result); });
        return;
    }
    auto args = withPeriod(theBaseCmdStrTM, theTimePeriod, 'h');
    runInBackground<TalliedLog>([runTool = services_.runTool, args = std::move(args),
                                 release = osVersion] { return queryTMLog(runTool, args, release); },
                                [](ViewController& self, TalliedLog& result) { self.finishTMCheck(result); });
}

ViewController::TalliedLog ViewController::queryTMLog(const RunTool& runTool, const std::vector<std::string>& args,
                                                      Release release)
{
    TalliedLog log;
    log.stream = streamLogCommand(runTool, args, tallyInto(log.found, release));
    return log;
}

void ViewController::finishTMCheck(TalliedLog& result)
{
    lastCheck_ = CheckResult{};
    if (const auto failure = toolFailureText(result.stream.run, "TM log command"))
        showErrorAlert(*failure);
    else
        analyseBackupLog(result);
    finishSchedulerCheck([this](const SchedulerVerdictSink& append) {
        runSchedulerCheck(services_.runTool, {theBaseCmdStrDAS, theBaseCmdStrCTS},
                          lastCheck_.found.assessment.DAScheckPeriod, append,
                          [this](const std::string& failure) { showErrorAlert(failure); });
    });
    hideBusyIndicator();
}

void ViewController::finishFileCheck(const SavedLogResult& result)
{
    lastCheck_ = CheckResult{};
    if (const SavedLog* log = acceptLogFile(result)) {
        const StoppedClock clock(log->newest);
        analyseEntries(log->inPeriod(kFileTM, static_cast<double>(theTimePeriod) * 60 * 60), log->newest, clock);
        finishSchedulerCheck([this, log](const SchedulerVerdictSink& append) {
            checkSchedulerInFile(*log, kFileDAS, kFileCTS, lastCheck_.found.assessment.DAScheckPeriod, append);
        });
    }
    hideBusyIndicator();
}

void ViewController::finishSchedulerCheck(const std::function<void(const SchedulerVerdictSink&)>& run)
{
    CheckAssessment& assessment = lastCheck_.found.assessment;
    assessment.DAScheckPeriod = std::min(assessment.DAScheckPeriod, kOverdueMinutes);
    if (!assessment.runDAScheck)
        return;
    lastCheck_.schedulerCheckRan = true;
    run([this](SchedulerService service, SchedulerFinding finding, const std::string& verdict) {
        const bool das = service == SchedulerService::DAS;
        (das ? lastCheck_.dasVerdict : lastCheck_.ctsVerdict) = verdict;
        (das ? lastCheck_.dasFinding : lastCheck_.ctsFinding) = finding;
        appendReportText(verdict);
    });
}

void ViewController::analyseBackupLog(TalliedLog& log)
{
    if (!isArray(log.stream.shape)) {
        setReportText(kParseErrorLine);
        timeline.showTimeline(emptyTimeline(services_.clock.now(), theTimePeriod));
        return;
    }
    lastCheck_.found = std::move(log.found);
    reportAnalysis(services_.clock.now(), services_.clock);
}

void ViewController::analyseEntries(std::span<const LogEntry> entries, Date end, const Clock& clock)
{
    std::ranges::for_each(entries, tallyInto(lastCheck_.found, osVersion));
    reportAnalysis(end, clock);
}

void ViewController::reportAnalysis(Date end, const Clock& clock)
{
    const bool saved = logFile_.has_value();
    const ReportContext context{end,
                                theTimePeriod,
                                osVersion,
                                clock,
                                [this, saved](const std::string& message) {
                                    return saved ? unmeasuredFreeSpaceLine(message)
                                                 : volumeFreeSpaceLine(message, services_.volumes);
                                },
                                saved};
    const std::string note = withSourceNote({});
    const std::string report = note + assessAndCompose(lastCheck_.found, context);
    lastCheck_.decoded = true;
    lastCheck_.end = end;
    lastCheck_.found.layout.moveDown(static_cast<std::size_t>(std::count(note.begin(), note.end(), '\n')));
    setReportText(report);
    const SystemColour light = trafficLightColour(lastCheck_.found.assessment.BUassessment);
    trafficLight.setColour(light);
    if (timeline.drawsTimeline())
        timeline.showTimeline(collectTimeline(lastCheck_.found, end, theTimePeriod, light));
}

} // namespace quillfen
