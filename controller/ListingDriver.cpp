#include "checks/Listings.h"
#include "controller/ViewController.h"
#include "logquery/LogQuery.h"

namespace quillfen {

namespace {

const std::string kTmutilPath = "/usr/bin/tmutil";
const std::vector<std::string> kBackupNowArguments{"startbackup", "-a", "-r"};

} // namespace

void ViewController::runLogListing(const std::vector<std::string>& baseArguments, ListingOperation listing)
{
    readPeriodField();
    showBusyIndicator();
    clampTimePeriod();
    auto args = withPeriod(baseArguments, theTimePeriod, 'h');
    runInBackground([runTool = services_.runTool, args = std::move(args)] { return runLogCommand(runTool, args); },
                    [listing](ViewController& self, ToolResult& result) { self.finishLogListing(result, listing); });
}

void ViewController::finishLogListing(const ToolResult& result, ListingOperation listing)
{
    if (const auto failure = toolFailureText(result, "TM log command"))
        showErrorAlert(*failure);
    else
        (this->*listing)(result.output);
    hideBusyIndicator();
}

void ViewController::listSpeedEntries(const ByteBuffer& output)
{
    setReportText(speedListing(output, services_.clock.now(), theTimePeriod));
}

void ViewController::listAPFSEntries(const ByteBuffer& output)
{
    setReportText(apfsListing(output, services_.clock.now(), theTimePeriod));
}

void ViewController::startBackupNow()
{
    showBusyIndicator();
    runInBackground([runTool = services_.runTool] { return runTool(kTmutilPath, kBackupNowArguments, false); },
                    [](ViewController& self, ToolResult& result) { self.finishBackupNow(result); });
}

void ViewController::finishBackupNow(const ToolResult& result)
{
    if (const auto failure = toolFailureText(result, "Back up command"))
        showErrorAlert(*failure);
    hideBusyIndicator();
}

} // namespace quillfen
