#include "analysis/Analysis.h"
#include "analysis/VolumeSpace.h"
#include "checks/SchedulerCheck.h"
#include "controller/ViewController.h"
#include "logquery/LogQuery.h"

namespace quillfen {

namespace {

constexpr std::int64_t kMaximumSchedulerMinutes = 90;

} // namespace

void ViewController::runTMCheck()
{
    readPeriodField();
    showBusyIndicator();
    clampTimePeriod();
    runDAScheck = false;
    auto args = withPeriod(theBaseCmdStrTM, theTimePeriod, 'h');
    runInBackground([runTool = services_.runTool, args = std::move(args)] { return queryTMLog(runTool, args); },
                    [](ViewController& self, ToolResult& result) { self.finishTMCheck(result); });
}

ToolResult ViewController::queryTMLog(const RunTool& runTool, const std::vector<std::string>& args)
{
    return runLogCommand(runTool, args);
}

void ViewController::finishTMCheck(const ToolResult& result)
{
    lastCheck_ = CheckRecord{};
    if (const auto failure = toolFailureText(result, "TM log command"))
        showErrorAlert(*failure);
    else
        analyseBackupLog(result.output);

    DAScheckPeriod = std::min(DAScheckPeriod, kMaximumSchedulerMinutes);
    if (runDAScheck) {
        lastCheck_.schedulerCheckRan = true;
        runSchedulerCheck(
            services_.runTool, {theBaseCmdStrDAS, theBaseCmdStrCTS}, DAScheckPeriod,
            [this](SchedulerService service, const std::string& verdict) {
                (service == SchedulerService::DAS ? lastCheck_.dasVerdict : lastCheck_.ctsVerdict) = verdict;
                appendReportText(verdict);
            },
            [this](const std::string& failure) { showErrorAlert(failure); });
    }
    hideBusyIndicator();
}

void ViewController::analyseBackupLog(const ByteBuffer& output)
{
    static_cast<BackupTally&>(*this) = BackupTally{};
    const ReportContext context{
        services_.clock.now(), theTimePeriod, osVersion, services_.clock,
        [this](const std::string& message) { return volumeFreeSpaceLine(message, services_.volumes); }};
    const auto report = analyseBackupOutput(output, *this, context, runDAScheck, &lastCheck_.values);
    if (!report) {
        setReportText(kParseErrorLine);
        return;
    }
    lastCheck_.decoded = true;
    setReportText(*report);
    trafficLight.setColour(trafficLightColour(BUassessment));
}

} // namespace quillfen
