#include "checks/SchedulerCheck.h"

#include "logquery/LogEntry.h"
#include "logquery/LogQuery.h"

namespace quillfen {

std::string checkDAS(const ByteBuffer& output, std::int64_t minutes)
{
    const std::string n = std::to_string(minutes);
    switch (jsonTopLevel(output)) {
    case JsonTopLevel::Invalid:
        return "Error: DAS couldn't be checked because of a log error.\n";
    case JsonTopLevel::EmptyArray:
        return "DAS appears to have stopped rescoring activities over the last " + n +
               " minutes.\nRunning CTS check next.\n";
    case JsonTopLevel::NonEmptyArray:
    case JsonTopLevel::Object:
        break;
    }
    return "DAS appears to be rescoring normally over the last " + n + " minutes.\nRunning CTS check next.\n";
}

std::string checkCTS(const ByteBuffer& output, std::int64_t minutes)
{
    const std::string n = std::to_string(minutes);
    switch (jsonTopLevel(output)) {
    case JsonTopLevel::NonEmptyArray:
        return "CTS has been told to run a backup in the last " + n +
               " minutes but failed to do so.\nConsider restarting your Mac.\n";
    case JsonTopLevel::EmptyArray:
        return "CTS has not been told to run a backup in the last " + n +
               " minutes. Scheduling may have stopped.\nConsider restarting your Mac.\n";
    case JsonTopLevel::Invalid:
    case JsonTopLevel::Object:
        break;
    }
    return "Error: CTS couldn't be checked because of a log error.\n";
}

void runSchedulerCheck(const RunTool& runTool, const SchedulerCheckQueries& queries, std::int64_t minutes,
                       const std::function<void(SchedulerService, const std::string&)>& append,
                       const std::function<void(const std::string&)>& showError)
{
    struct Query {
        SchedulerService service;
        const std::vector<std::string>& base;
        std::string_view command;
        std::string (*verdict)(const ByteBuffer&, std::int64_t);
    };
    const Query steps[] = {{SchedulerService::DAS, queries.das, "DAS log command", checkDAS},
                           {SchedulerService::CTS, queries.cts, "CTS log command", checkCTS}};
    for (const Query& query : steps) {
        const ToolResult result = runLogCommand(runTool, withPeriod(query.base, minutes, 'm'));
        if (const auto failure = toolFailureText(result, query.command))
            showError(*failure);
        else
            append(query.service, query.verdict(result.output, minutes));
    }
}

} // namespace quillfen
