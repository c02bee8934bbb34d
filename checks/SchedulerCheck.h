#pragma once

#include "logquery/LogDecoder.h"
#include "logquery/LogFile.h"
#include "platform/Process.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillfen {

// The verdict on the shape of the DAS query's output over the last `minutes`.
std::string dasVerdict(JsonTopLevel shape, std::int64_t minutes);

// The verdict on the CTS query's output. A top-level object cannot be counted,
// so it is reported like undecodable output.
std::string ctsVerdict(JsonTopLevel shape, std::int64_t minutes);

struct SchedulerCheckQueries {
    const std::vector<std::string>& das;
    const std::vector<std::string>& cts;
};

enum class SchedulerService { DAS, CTS };

// What a verdict found, for front ends that report in figures: the service at
// work, stopped, told to run a backup that never came (CTS), or not known.
enum class SchedulerFinding { unknown, running, stopped, failedToRun };
SchedulerFinding schedulerFinding(SchedulerService service, JsonTopLevel shape);

using SchedulerVerdictSink = std::function<void(SchedulerService, SchedulerFinding, const std::string&)>;

// Runs the DAS query, then the CTS query, over the last `minutes`, on the
// calling thread; each verdict goes to `append`, each failed run to `showError`.
void runSchedulerCheck(const RunTool& runTool, const SchedulerCheckQueries& queries, std::int64_t minutes,
                       const SchedulerVerdictSink& append, const std::function<void(const std::string&)>& showError);

// The same verdicts on what the DAS and CTS predicates found in a saved log,
// over the last `minutes` before its newest entry. A file without entries of a
// service's subsystem cannot tell whether the service ran, and says so.
void checkSchedulerInFile(const SavedLog& log, std::size_t dasQuery, std::size_t ctsQuery, std::int64_t minutes,
                          const SchedulerVerdictSink& append);

} // namespace quillfen
