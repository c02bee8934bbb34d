#pragma once

#include "controller/ViewController.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen::cli {

// Everything one Check run left, as the fleet formats read it.
struct CheckOutcome {
    const ViewController& controller;
    const CheckResult& result;
    std::optional<SystemColour> light; // no value: no verdict
    std::string report;
    std::vector<std::string> alerts; // informative texts of the alerts shown
    const VolumeQueries& volumes;
    Date checkedAt; // when the run finished, by the system's clock
};

// Why backups are not happening, as the report tells it, with its figures.
struct Cause {
    enum class Code { diskNotConnected, backupsFailed, schedulerStopped, noDestination };
    Code code = Code::noDestination;
    // diskNotConnected: the skips that say so, and when the disk was last used (none: not in the period).
    std::int64_t skipped = 0;
    std::optional<double> minutesSinceLastBackup;
    // backupsFailed: how many failed since the last completion, and the newest one's result, as
    // "BACKUP_FAILED_DISCONNECTED_NETWORK (26)" or "error 18" give it.
    std::int64_t failures = 0;
    std::optional<std::string> result;
    std::optional<std::int64_t> resultCode;
    // schedulerStopped: what the two services' checks found.
    SchedulerFinding das = SchedulerFinding::unknown;
    SchedulerFinding cts = SchedulerFinding::unknown;
};

// Every cause the Check found, the most telling first; none without a verdict.
std::vector<Cause> causes(const CheckOutcome& outcome);
std::string_view causeCode(Cause::Code code);
inline constexpr Cause::Code kCauseCodes[] = {Cause::Code::diskNotConnected, Cause::Code::backupsFailed,
                                              Cause::Code::schedulerStopped, Cause::Code::noDestination};
std::string_view findingName(SchedulerFinding finding);
inline constexpr SchedulerFinding kFindings[] = {SchedulerFinding::unknown, SchedulerFinding::running,
                                                 SchedulerFinding::stopped, SchedulerFinding::failedToRun};

// "green", "orange" or "red"; nothing without a verdict.
std::optional<std::string_view> lightName(const std::optional<SystemColour>& light);

std::int64_t completedBackups(const CheckOutcome& outcome);

struct Destination {
    const std::string& message;
    std::optional<std::string> path; // none when the message names no path
    std::optional<std::int64_t> freeBytes;
};
std::vector<Destination> destinations(const CheckOutcome& outcome);

// One JSON object with the verdict, the report and the figures it is made of.
std::string checkJson(const CheckOutcome& outcome);

// One status line in the monitoring-plugin format, with performance data.
std::string nagiosLine(const CheckOutcome& outcome);

// One inventory line, "<result>…</result>", with the light and the cause.
std::string extensionAttributeLine(const CheckOutcome& outcome);

// The Check in the text format of node_exporter's textfile collector.
std::string prometheusMetrics(const CheckOutcome& outcome);

} // namespace quillfen::cli
