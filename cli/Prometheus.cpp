#include "analysis/Formatting.h"
#include "cli/FleetOutput.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace quillfen::cli {

namespace {

using Label = std::pair<std::string_view, std::string_view>;

// Gauges in the text exposition format. A gauge's HELP and TYPE lines come
// with its first sample, so a gauge without samples is left out.
class MetricsText {
public:
    MetricsText& gauge(std::string_view name, std::string_view help)
    {
        name_ = name;
        help_ = help;
        started_ = false;
        return *this;
    }

    MetricsText& sample(double value, std::initializer_list<Label> labels = {})
    {
        if (!started_)
            out_ += "# HELP " + std::string(name_) + " " + std::string(help_) + "\n# TYPE " + std::string(name_) +
                    " gauge\n";
        started_ = true;
        out_ += name_;
        const char* separator = "{";
        for (const auto& [label, text] : labels) {
            // Appended piece by piece: GCC 12 misreads a chain of + here as an overlapping copy.
            out_ += separator;
            out_ += label;
            out_ += "=\"";
            for (const char c : text) {
                if (c == '\\')
                    out_ += "\\\\";
                else if (c == '"')
                    out_ += "\\\"";
                else if (c == '\n')
                    out_ += "\\n";
                else
                    out_ += c;
            }
            out_ += '"';
            separator = ",";
        }
        if (labels.size() != 0)
            out_ += '}';
        std::array<char, 32> digits{};
        out_ += ' ';
        out_.append(digits.data(), std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr);
        out_ += '\n';
        return *this;
    }

    const std::string& str() const { return out_; }

private:
    std::string out_;
    std::string_view name_, help_;
    bool started_ = false;
};

double flag(bool value)
{
    return value ? 1 : 0;
}

} // namespace

std::string prometheusMetrics(const CheckOutcome& outcome)
{
    MetricsText metrics;
    const auto light = outcome.light();
    const CheckResult& result = outcome.result;
    metrics
        .gauge("quillfen_check_failed", "1 when the Check reached no verdict: a tool failed or the log could not "
                                        "be read. The other figures are then left out.")
        .sample(flag(!light));
    metrics.gauge("quillfen_check_timestamp_seconds", "When the Check ran, in seconds since 1970-01-01 UTC.")
        .sample(std::round(outcome.checkedAt.sinceEpoch));
    metrics.gauge("quillfen_period_seconds", "The length of the period the Check read.")
        .sample(static_cast<double>(result.hours) * 3600);
    metrics
        .gauge("quillfen_build_info", "Always 1: this Quillfen's version, and the macOS release the Check read for "
                                      "(empty when it could not be read).")
        .sample(1, {{"version", QUILLFEN_VERSION}, {"macos", releaseText(outcome.macos)}});
    if (!light)
        return metrics.str();

    const std::string_view lights[] = {"green", "orange", "red"};
    const std::string_view shown = *lightName(light);
    metrics.gauge("quillfen_light", "The traffic light: 0 green, 1 orange, 2 red.");
    for (std::size_t level = 0; level < std::size(lights); ++level)
        if (lights[level] == shown)
            metrics.sample(static_cast<double>(level));
    metrics.gauge("quillfen_light_state", "1 for the traffic light's colour, 0 for the others.");
    for (const std::string_view name : lights)
        metrics.sample(flag(name == shown), {{"light", name}});

    const BackupTally& tally = result.found.tally;
    const CheckAssessment& assessment = result.found.assessment;
    metrics.gauge("quillfen_cause", "1 for each cause the report gives for backups not happening, 0 for the others.");
    for (const CauseCode code : kCauseCodes)
        metrics.sample(flag(assessment.has(code)), {{"cause", causeCode(code)}});

    if (assessment.minutesSinceLastCompletion)
        metrics
            .gauge("quillfen_last_backup_age_seconds", "Seconds from the last completed backup to the end of the "
                                                       "period; absent when none completed in the period.")
            .sample(std::round(*assessment.minutesSinceLastCompletion * 60000) / 1000);
    if (assessment.lastCompletion)
        metrics
            .gauge("quillfen_last_backup_timestamp_seconds",
                   "When the last backup completed, in the period or before it as far as the log was searched; "
                   "absent when none is known.")
            .sample(std::round(assessment.lastCompletion->sinceEpoch * 1000) / 1000);
    metrics.gauge("quillfen_backups_started", "Backups started in the period, by kind.")
        .sample(static_cast<double>(tally.startBU.size()), {{"kind", "auto"}})
        .sample(static_cast<double>(tally.numManualBackups), {{"kind", "manual"}});
    metrics.gauge("quillfen_backups_completed", "Backups completed in the period.")
        .sample(static_cast<double>(tally.completedBackups()));
    metrics.gauge("quillfen_backups_failed", "Backups that failed in the period.")
        .sample(static_cast<double>(tally.failedBackups.size()));
    metrics.gauge("quillfen_error_lines", "Error lines in the period.")
        .sample(static_cast<double>(tally.errors.size()));
    metrics.gauge("quillfen_skipped_backups", "Scheduled backups skipped in the period, by the kind of reason the "
                                              "log gives: no_destination, already_running, not_due, other.");
    for (const SkipCode code : kSkipCodes) {
        std::size_t count = 0;
        for (const SkipReason& skip : assessment.skipReasons)
            count += skip.code == code ? skip.count : 0;
        metrics.sample(static_cast<double>(count), {{"reason", skipCodeName(code)}});
    }

    metrics.gauge("quillfen_destinations", "Backup destinations named in the period.")
        .sample(static_cast<double>(tally.destinations.size()));
    // One destination a path, so each path's label set appears once.
    metrics.gauge("quillfen_destination_free_bytes", "Free bytes on the volume of each backup destination that "
                                                     "tells its free space, by its path.");
    for (const auto& [path, freeBytes] : freeBytesByDestination(tally))
        metrics.sample(static_cast<double>(freeBytes), {{"destination", path}});

    metrics
        .gauge("quillfen_scheduler_checked", "1 when backups looked overdue and the scheduler (DAS and CTS) "
                                             "was checked.")
        .sample(flag(result.scheduler.has_value()));
    if (const auto& scheduler = result.scheduler) {
        metrics.gauge("quillfen_scheduler_state", "1 for what the scheduler check found of each service, 0 for "
                                                  "the other states.");
        for (const auto& [service, finding] :
             {std::pair{"das", scheduler->dasFinding}, std::pair{"cts", scheduler->ctsFinding}})
            for (const SchedulerFinding state : kFindings)
                metrics.sample(flag(state == finding), {{"service", service}, {"state", findingName(state)}});
    }
    return metrics.str();
}

} // namespace quillfen::cli
