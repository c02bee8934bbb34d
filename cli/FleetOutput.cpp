#include "cli/FleetOutput.h"

#include "analysis/Formatting.h"
#include "analysis/VolumeSpace.h"
#include "cli/Json.h"

namespace quillfen::cli {

namespace {

std::optional<std::string_view> lightName(const std::optional<SystemColour>& light)
{
    if (!light)
        return std::nullopt;
    switch (*light) {
    case SystemColour::Green:
        return "green";
    case SystemColour::Orange:
        return "orange";
    case SystemColour::Red:
        return "red";
    case SystemColour::Grey:
        break;
    }
    return std::nullopt;
}

// An age as the report writes it, or nothing where the report says there was no such event.
std::optional<std::string> minutesText(const std::optional<double>& minutes)
{
    return minutes ? std::optional(formatMinutes(*minutes)) : std::nullopt;
}

std::optional<std::string_view> optionalText(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional<std::string_view>(text);
}

std::int64_t completedBackups(const CheckOutcome& outcome)
{
    return static_cast<std::int64_t>(outcome.controller.endBU.size()) + outcome.record.values.unpairedCompletions;
}

void writeFigures(JsonWriter& json, const CheckOutcome& outcome)
{
    const ViewController& vc = outcome.controller;
    const AnalysisValues& values = outcome.record.values;
    json.beginObject("backups")
        .integer("auto_started", static_cast<std::int64_t>(vc.startBU.size()))
        .integer("completed", completedBackups(outcome))
        .integer("manual_started", vc.numManualBackups);
    const auto sinceLast = minutesText(values.minutesSinceLastCompletion);
    const auto sinceManual = minutesText(values.minutesSinceManualStart);
    json.number("minutes_since_last_completed", sinceLast ? std::optional<std::string_view>(*sinceLast) : std::nullopt)
        .number("minutes_since_last_manual_start",
                sinceManual ? std::optional<std::string_view>(*sinceManual) : std::nullopt)
        .boolean("auto_backup_running", vc.backingUpNow)
        .boolean("manual_backup_running", vc.manualBackup);
    json.beginArray("durations_minutes");
    for (const auto& duration : vc.BUdurations)
        json.number({}, duration);
    json.endArray().beginArray("intervals_minutes");
    for (const auto& interval : vc.BUstartTimes)
        json.number({}, interval);
    json.endArray()
        .integer("created", vc.createdBackups)
        .integer("deleted", vc.deletedBackups)
        .integer("cancelled", static_cast<std::int64_t>(vc.cancelBU.size()))
        .endObject();

    json.beginObject("copied").beginArray("files");
    for (const auto files : vc.copiedNumbers)
        json.integer({}, files);
    json.endArray().beginArray("data");
    for (const auto& data : vc.copiedCapacities)
        json.text({}, data);
    json.endArray().endObject();

    json.beginObject("snapshots")
        .integer("created", vc.createdSnapshots)
        .integer("deleted", vc.deletedSnapshots)
        .endObject();

    json.beginObject("scans")
        .integer("volume_backups", vc.catVolCount)
        .integer("full_first_backups", vc.catFirstBU)
        .integer("deep_scans", vc.catDeepScan)
        .integer("fsevents", vc.catFSEvents)
        .integer("snapshot_diffs", vc.catSnaps)
        .integer("consistency_scans", vc.catConsist)
        .integer("cached_events", vc.catCachedEvents)
        .integer("deep_traversals_started", static_cast<std::int64_t>(vc.startDT.size()))
        .integer("deep_traversals_completed", static_cast<std::int64_t>(vc.endDT.size()))
        .endObject();

    json.beginArray("destinations");
    for (const auto& message : vc.BUdisksSet) {
        json.beginObject().text("message", message);
        std::optional<std::int64_t> freeBytes;
        if (const auto path = backupTargetPath(message)) {
            json.text("path", *path);
            if (outcome.volumes.supportsVolumeSizes(*path).value_or(false))
                freeBytes = outcome.volumes.availableCapacity(*path);
        } else {
            json.null("path");
        }
        json.integer("free_bytes", freeBytes).endObject();
    }
    json.endArray();

    json.beginObject("errors").integer("count", values.errorCount).beginArray("lines");
    std::string_view lines = values.errorLines;
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        json.text({}, lines.substr(0, end));
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
    json.endArray().endObject();
}

} // namespace

std::string checkJson(const CheckOutcome& outcome)
{
    const ViewController& vc = outcome.controller;
    const bool verdict = lightName(outcome.light).has_value();
    JsonWriter json;
    json.beginObject()
        .text("status", lightName(outcome.light))
        .integer("assessment", verdict ? std::optional(vc.BUassessment) : std::nullopt)
        .integer("period_hours", vc.theTimePeriod)
        .text("report", outcome.report);
    json.beginArray("alerts");
    for (const auto& alert : outcome.alerts)
        json.text({}, alert);
    json.endArray();
    if (outcome.record.decoded) {
        json.beginObject("figures");
        writeFigures(json, outcome);
        json.endObject();
    } else {
        json.null("figures");
    }
    const CheckRecord& record = outcome.record;
    json.beginObject("scheduler_check")
        .boolean("ran", record.schedulerCheckRan)
        .integer("minutes", record.schedulerCheckRan ? std::optional(vc.DAScheckPeriod) : std::nullopt)
        .text("das", optionalText(record.dasVerdict))
        .text("cts", optionalText(record.ctsVerdict))
        .endObject();
    return json.endObject().str() + "\n";
}

std::string nagiosLine(const CheckOutcome& outcome)
{
    const auto name = lightName(outcome.light);
    const std::string state = !name ? "UNKNOWN" : *name == "green" ? "OK" : *name == "orange" ? "WARNING" : "CRITICAL";
    std::string line = "QUILLFEN " + state + " - ";
    if (!outcome.record.decoded) {
        line += outcome.alerts.empty() ? "couldn't get log entries and parse them" : outcome.alerts.front();
        return line + "\n";
    }
    const ViewController& vc = outcome.controller;
    const auto sinceLast = minutesText(outcome.record.values.minutesSinceLastCompletion);
    const std::int64_t errors = outcome.record.values.errorCount;
    line += sinceLast ? "last backup completed " + *sinceLast + " minutes ago" : "no backup completed";
    line += ", " + std::to_string(completedBackups(outcome)) + " completed in the last " +
            std::to_string(vc.theTimePeriod) + " hours, " + std::to_string(errors) + " errors";
    if (outcome.record.schedulerCheckRan)
        line += ", scheduler checked";
    // Perfdata: 'label'=value;warn;crit;min — "U" when no backup finished.
    line += "|minutes_since_last_backup=" + sinceLast.value_or("U") + ";;90;0 errors=" + std::to_string(errors) +
            ";;0;0 backups_completed=" + std::to_string(completedBackups(outcome)) + ";;;0";
    return line + "\n";
}

} // namespace quillfen::cli
