#include "checks/Listings.h"
#include "controller/ViewController.h"
#include "logquery/LogDecoder.h"
#include "logquery/LogQuery.h"

namespace quillfen {

namespace {

const std::string kTmutilPath = "/usr/bin/tmutil";
const std::vector<std::string> kBackupNowArguments{"startbackup", "-a", "-r"};

} // namespace

void ViewController::runSpeedButton()
{
    runLogListing(
        theBaseCmdStrSpeed, [](const LogEntry&) { return true; }, &ViewController::listSpeedEntries);
}

void ViewController::runAPFSButton()
{
    runLogListing(
        theBaseCmdStrAPFS, [](const LogEntry& entry) { return hasAPFSMarker(entry.eventMessage); },
        &ViewController::listAPFSEntries);
}

void ViewController::runLogListing(const std::vector<std::string>& baseArguments, EntryFilter keep,
                                   ListingOperation listing)
{
    readPeriodField();
    showBusyIndicator();
    clampTimePeriod();
    if (logFile_) {
        // The predicate is the argument after "--predicate".
        readLogFile({baseArguments.at(2)}, [listing](ViewController& self, SavedLogResult& result) {
            self.finishFileListing(result, listing);
        });
        return;
    }
    auto args = withPeriod(baseArguments, theTimePeriod, 'h');
    runInBackground<LogQueryResult>(
        [runTool = services_.runTool, args = std::move(args), keep = std::move(keep)] {
            return runLogCommand(runTool, args, keep);
        },
        [listing](ViewController& self, LogQueryResult& result) { self.finishLogListing(result, listing); });
}

void ViewController::finishLogListing(const LogQueryResult& result, ListingOperation listing)
{
    if (const auto failure = toolFailureText(result.run, "TM log command")) {
        showErrorAlert(*failure);
    } else if (result.log.isArray()) {
        (this->*listing)(result.log.views(), services_.clock.now());
    } else {
        setReportText(undecodableListing(services_.clock.now(), theTimePeriod));
    }
    hideBusyIndicator();
}

void ViewController::finishFileListing(const SavedLogResult& result, ListingOperation listing)
{
    if (const SavedLog* log = acceptLogFile(result))
        (this->*listing)(log->inPeriod(0, static_cast<double>(theTimePeriod) * 60 * 60), log->newest);
    hideBusyIndicator();
}

void ViewController::listSpeedEntries(std::span<const LogEntry> entries, Date end)
{
    setReportText(withSourceNote(speedListing(entries, end, theTimePeriod)));
}

void ViewController::listAPFSEntries(std::span<const LogEntry> entries, Date end)
{
    setReportText(withSourceNote(apfsListing(entries, end, theTimePeriod)));
}

void ViewController::startBackupNow()
{
    showBusyIndicator();
    runInBackground<ToolResult>(
        [runTool = services_.runTool] { return runTool(kTmutilPath, kBackupNowArguments, nullptr); },
        [](ViewController& self, ToolResult& result) { self.finishBackupNow(result); });
}

void ViewController::finishBackupNow(const ToolResult& result)
{
    if (const auto failure = toolFailureText(result, "Back up command"))
        showErrorAlert(*failure);
    hideBusyIndicator();
}

} // namespace quillfen
