#pragma once

#include "service/CheckService.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillfen::cli {

// One Check as the command line tells it: the service's result, and whether the
// files it was asked to write were written. Every format reads the same verdict.
struct CheckOutcome {
    const CheckResult& result;
    std::optional<std::string> unwritten; // why a file could not be written
    Date checkedAt;                       // when the run finished, by the system's clock

    // The verdict: none when the Check gave none or a file could not be written.
    std::optional<BackupAssessment> light() const { return unwritten ? std::nullopt : result.light(); }
    // Why there is no verdict, in a line.
    std::string failure() const;
};

// "green", "orange" or "red"; nothing without a verdict.
std::optional<std::string_view> lightName(const std::optional<BackupAssessment>& light);

std::string_view causeCode(CauseCode code);
std::string_view findingName(SchedulerFinding finding);
inline constexpr SchedulerFinding kFindings[] = {SchedulerFinding::unknown, SchedulerFinding::running,
                                                 SchedulerFinding::stopped, SchedulerFinding::failedToRun,
                                                 SchedulerFinding::unjudged};

// One JSON object with the verdict, the report and the figures it is made of.
std::string checkJson(const CheckOutcome& outcome);

// One status line in the monitoring-plugin format, with performance data.
std::string nagiosLine(const CheckOutcome& outcome);

// One inventory line, "<result>…</result>", with the light and the cause.
std::string extensionAttributeLine(const CheckOutcome& outcome);

// The Check in the text format of node_exporter's textfile collector.
std::string prometheusMetrics(const CheckOutcome& outcome);

} // namespace quillfen::cli
