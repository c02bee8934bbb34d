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

std::string_view ctsPredicate(Release release)
{
    return release.keepsCtsRequestBriefly() ? kPredicateCTSDispatch : kPredicateCTS;
}

std::string ctsVerdict(JsonTopLevel shape, std::int64_t minutes, Release release)
{
    const std::string n = std::to_string(minutes);
    switch (shape) {
    case JsonTopLevel::NonEmptyArray:
        return "CTS has been told to run a backup in the last " + n +
               " minutes but failed to do so.\nConsider restarting your Mac.\n";
    case JsonTopLevel::EmptyArray:
        if (release.keepsCtsRequestBriefly())
            return "Whether CTS was told to run a backup in the last " + n +
                   " minutes could not be judged from the log: this macOS release keeps that message only briefly.\n";
        return "CTS has not been told to run a backup in the last " + n +
               " minutes. Scheduling may have stopped.\nConsider restarting your Mac.\n";
    case JsonTopLevel::Invalid:
    case JsonTopLevel::Object:
        break;
    }
    return "Error: CTS couldn't be checked because of a log error.\n";
}

SchedulerFinding schedulerFinding(SchedulerService service, JsonTopLevel shape, Release release)
{
    switch (shape) {
    case JsonTopLevel::Invalid:
        return SchedulerFinding::unknown;
    case JsonTopLevel::EmptyArray:
        return service == SchedulerService::CTS && release.keepsCtsRequestBriefly() ? SchedulerFinding::unjudged
                                                                                    : SchedulerFinding::stopped;
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

void judge(SchedulerVerdicts& verdicts, SchedulerService service, JsonTopLevel shape, Release release)
{
    setVerdict(verdicts, service, schedulerFinding(service, shape, release),
               service == SchedulerService::DAS ? dasVerdict(shape, verdicts.minutes)
                                                : ctsVerdict(shape, verdicts.minutes, release));
}

} // namespace

SchedulerVerdicts runSchedulerCheck(const RunTool& runTool, std::int64_t minutes, Release release)
{
    struct Query {
        SchedulerService service;
        std::string_view predicate;
        std::string_view command;
    };
    const Query steps[] = {{SchedulerService::DAS, kPredicateDAS, "DAS log command"},
                           {SchedulerService::CTS, ctsPredicate(release), "CTS log command"}};
    SchedulerVerdicts verdicts;
    verdicts.minutes = minutes;
    for (const Query& query : steps) {
        const LogQueryResult result =
            runLogCommand(runTool, withPeriod(baseLogArguments(query.predicate), minutes, 'm'), {});
        if (auto failure = toolFailureText(result.run, query.command))
            verdicts.alerts.push_back(std::move(*failure));
        else
            judge(verdicts, query.service, result.log.shape, release);
    }
    return verdicts;
}

SchedulerVerdicts checkSchedulerInFile(const SavedLog& log, std::size_t dasQuery, std::size_t ctsQuery,
                                       std::int64_t minutes, Release release)
{
    struct Step {
        SchedulerService service;
        std::size_t query;
        std::string_view name;
    };
    const Step steps[] = {{SchedulerService::DAS, dasQuery, "DAS"}, {SchedulerService::CTS, ctsQuery, "CTS"}};
    SchedulerVerdicts verdicts;
    verdicts.minutes = minutes;
    for (const Step& step : steps) {
        if (!log.queries.at(step.query).subsystemSeen) {
            const std::string name(step.name);
            setVerdict(verdicts, step.service, SchedulerFinding::unknown,
                       "The log file holds no " + name + " entries, so " + name + " could not be checked.\n");
            continue;
        }
        const std::optional<Date> newest = log.queries.at(step.query).newest;
        const bool found = newest && *newest >= Date{log.newest.sinceEpoch - static_cast<double>(minutes) * 60};
        judge(verdicts, step.service, found ? JsonTopLevel::NonEmptyArray : JsonTopLevel::EmptyArray, release);
    }
    return verdicts;
}

} // namespace quillfen
