#pragma once

#include "analysis/Assessment.h"
#include "analysis/Release.h"
#include "logquery/LogDecoder.h"
#include "logquery/LogFile.h"
#include "platform/Process.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The verdict on the shape of the DAS query's output over the last `minutes`.
std::string dasVerdict(JsonTopLevel shape, std::int64_t minutes);

// The CTS query's predicate on the release.
std::string_view ctsPredicate(Release release);

// The verdict on the CTS query's output. A top-level object cannot be counted,
// so it is reported like undecodable output; nothing found is no verdict where
// the release keeps CTS's message only briefly.
std::string ctsVerdict(JsonTopLevel shape, std::int64_t minutes, Release release);

enum class SchedulerService { DAS, CTS };

SchedulerFinding schedulerFinding(SchedulerService service, JsonTopLevel shape, Release release);

// What the scheduler check found over its minutes: each service's verdict as the
// report appends it (none when its query failed), and the alert of each failed query.
struct SchedulerVerdicts {
    std::int64_t minutes = 0;
    std::optional<std::string> das;
    std::optional<std::string> cts;
    SchedulerFinding dasFinding = SchedulerFinding::unknown;
    SchedulerFinding ctsFinding = SchedulerFinding::unknown;
    std::vector<std::string> alerts;

    // The verdicts in the order the report appends them.
    std::string text() const { return das.value_or("") + cts.value_or(""); }
};

// Runs the DAS query, then the CTS query, over the last `minutes`, on the calling thread.
SchedulerVerdicts runSchedulerCheck(const RunTool& runTool, std::int64_t minutes, Release release);

// The same verdicts on what the DAS and CTS predicates found in a saved log (the
// newest time each selected, see SavedLogLimits::newestOnly),
// over the last `minutes` before its newest entry. A file without entries of a
// service's subsystems cannot tell whether the service ran, and says so.
SchedulerVerdicts checkSchedulerInFile(const SavedLog& log, std::size_t dasQuery, std::size_t ctsQuery,
                                       std::int64_t minutes, Release release);

} // namespace quillfen
