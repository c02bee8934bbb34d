#pragma once

#include "service/CheckService.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillfen::cli {

// One Check as the command line tells it: the service's result, and whether the
// files it was asked to write were written. Every format reads the same verdict.
// A monitoring plugin's threshold on the last backup's age (-w, -c).
struct AgeLimit {
    std::int64_t seconds = 0;
    std::string given; // as written: "90m"
};
struct AgeThresholds {
    std::optional<AgeLimit> warning, critical;
};

// Exit statuses of the monitoring-plugin convention, which the CLI's are.
enum class PluginStatus { ok = 0, warning = 1, critical = 2, unknown = 3 };

struct CheckOutcome {
    const CheckResult& result;
    std::optional<std::string> unwritten; // why a file could not be written
    Date checkedAt;                       // when the run finished, by the system's clock
    AgeThresholds thresholds = {};
    std::optional<OsVersion> macos = {}; // the release the Check read for: this Mac's, or the one named for a file
    std::string host = {};               // this Mac's name

    // The verdict: none when the Check gave none or a file could not be written.
    std::optional<BackupAssessment> light() const { return unwritten ? std::nullopt : result.light(); }
    // Why there is no verdict, in a line.
    std::string failure() const;
    // The light's status, raised by the thresholds when the last known backup is older than one of
    // them, or when none is known and a threshold is set.
    PluginStatus status() const;
    // Why a threshold raised the status above the light's ("last backup older than 1d"); none when none did.
    std::optional<std::string> raisedBy() const;
};

// "90m", "1d", "3600" (seconds): a whole number of seconds, minutes, hours or days, up to a year.
std::optional<std::int64_t> durationSeconds(std::string_view text);

std::string_view causeCode(CauseCode code);
std::string_view skipCodeName(SkipCode code);
// "14.5"; empty when not known.
std::string releaseText(const std::optional<OsVersion>& version);
// The free bytes of each destination that tells them, by its path as the formats label it: a network
// share's per-mount folder ("/Volumes/.timemachine/nas._smb._tcp.local./F0B12B00-…/TimeMachine") left
// out, so that every mount of one share is one destination, and one series.
std::map<std::string, std::int64_t> freeBytesByDestination(const BackupTally& tally);
inline constexpr SchedulerFinding kFindings[] = {SchedulerFinding::unknown, SchedulerFinding::running,
                                                 SchedulerFinding::stopped, SchedulerFinding::failedToRun,
                                                 SchedulerFinding::unjudged};

// One JSON object with the verdict, the report and the figures it is made of.
std::string checkJson(const CheckOutcome& outcome);

// One status line in the monitoring-plugin format, with performance data.
std::string nagiosLine(const CheckOutcome& outcome);

// The light and its first cause in a line ("red: backup disk not connected, …"), or "no verdict: " and why.
std::string summaryLine(const CheckOutcome& outcome);

// One inventory line, "<result>…</result>", with the summary line.
std::string extensionAttributeLine(const CheckOutcome& outcome);

// The inventory line of a Check saved with --save-result (its JSON), with how long ago it ran by `now`
// ("<result>green (checked 12 minutes ago)</result>"), and the exit status its light gives; for a file that
// could not be read (`unreadable` says why) or does not read as one, no verdict and why.
std::pair<std::string, PluginStatus> savedExtensionAttribute(std::string_view json, std::string_view name, Date now,
                                                             std::string_view unreadable = {});

// The Check in the text format of node_exporter's textfile collector.
std::string prometheusMetrics(const CheckOutcome& outcome);

} // namespace quillfen::cli
