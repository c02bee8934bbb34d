#include "checks/SchedulerCheck.h"

#include "logquery/LogDecoder.h"
#include "logquery/LogQuery.h"

namespace quillfen {

std::string dasVerdict(JsonTopLevel shape, std::int64_t minutes)
{
    const std::string n = std::to_string(minutes);
    switch (shape) {
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

std::string ctsVerdict(JsonTopLevel shape, std::int64_t minutes)
{
    const std::string n = std::to_string(minutes);
    switch (shape) {
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

SchedulerFinding schedulerFinding(SchedulerService service, JsonTopLevel shape)
{
    switch (shape) {
    case JsonTopLevel::Invalid:
        return SchedulerFinding::unknown;
    case JsonTopLevel::EmptyArray:
        return SchedulerFinding::stopped;
    case JsonTopLevel::Object:
        return service == SchedulerService::DAS ? SchedulerFinding::running : SchedulerFinding::unknown;
    case JsonTopLevel::NonEmptyArray:
        break;
    }
    return service == SchedulerService::DAS ? SchedulerFinding::running : SchedulerFinding::failedToRun;
}

namespace {

void setVerdict(SchedulerVerdicts& verdicts, SchedulerService service, SchedulerFinding finding, std::string text)
{
    const bool das = service == SchedulerService::DAS;
    (das ? verdicts.das : verdicts.cts) = std::move(text);
    (das ? verdicts.dasFinding : verdicts.ctsFinding) = finding;
}

} // namespace

SchedulerVerdicts runSchedulerCheck(const RunTool& runTool, std::int64_t minutes)
{
    struct Query {
        SchedulerService service;
        std::string_view predicate;
        std::string_view command;
        std::string (*verdict)(JsonTopLevel, std::int64_t);
    };
    const Query steps[] = {{SchedulerService::DAS, kPredicateDAS, "DAS log command", dasVerdict},
                           {SchedulerService::CTS, kPredicateCTS, "CTS log command", ctsVerdict}};
    SchedulerVerdicts verdicts;
    verdicts.minutes = minutes;
    for (const Query& query : steps) {
        const LogQueryResult result =
            runLogCommand(runTool, withPeriod(baseLogArguments(query.predicate), minutes, 'm'), {});
        if (auto failure = toolFailureText(result.run, query.command))
            verdicts.alerts.push_back(std::move(*failure));
        else
            setVerdict(verdicts, query.service, schedulerFinding(query.service, result.log.shape),
                       query.verdict(result.log.shape, minutes));
    }
    return verdicts;
}

SchedulerVerdicts checkSchedulerInFile(const SavedLog& log, std::size_t dasQuery, std::size_t ctsQuery,
                                       std::int64_t minutes)
{
    struct Step {
        SchedulerService service;
        std::size_t query;
        std::string_view name;
        std::string (*verdict)(JsonTopLevel, std::int64_t);
    };
    const Step steps[] = {{SchedulerService::DAS, dasQuery, "DAS", dasVerdict},
                          {SchedulerService::CTS, ctsQuery, "CTS", ctsVerdict}};
    SchedulerVerdicts verdicts;
    verdicts.minutes = minutes;
    for (const Step& step : steps) {
        if (!log.queries.at(step.query).subsystemSeen) {
            const std::string name(step.name);
            setVerdict(verdicts, step.service, SchedulerFinding::unknown,
                       "The log file holds no " + name + " entries, so " + name + " could not be checked.\n");
            continue;
        }
        const bool found = !log.inPeriod(step.query, static_cast<double>(minutes) * 60).empty();
        const JsonTopLevel shape = found ? JsonTopLevel::NonEmptyArray : JsonTopLevel::EmptyArray;
        setVerdict(verdicts, step.service, schedulerFinding(step.service, shape), step.verdict(shape, minutes));
    }
    return verdicts;
}

} // namespace quillfen
