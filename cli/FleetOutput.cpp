#include "cli/FleetOutput.h"

#include "analysis/Formatting.h"
#include "analysis/Report.h"
#include "analysis/VolumeSpace.h"
#include "cli/Json.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <unordered_map>

namespace quillfen::cli {

namespace {

// Raised whenever a member of the JSON document changes meaning or goes away.
constexpr std::int64_t kSchemaVersion = 1;

// An age as the report writes it, or nothing where the report says there was no such event.
std::optional<std::string> minutesText(const std::optional<double>& minutes)
{
    return minutes ? std::optional(formatMinutes(*minutes)) : std::nullopt;
}

std::optional<std::string_view> optionalText(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional<std::string_view>(text);
}

std::optional<std::string_view> optionalView(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

// The result a failure message names: "… with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70) because …",
// "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)", "Backup failed with error: 19".
void readFailureResult(std::string_view message, Cause& cause)
{
    const auto number = [](std::string_view digits) -> std::optional<std::int64_t> {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc{} && end != digits.data() ? std::optional(value) : std::nullopt;
    };
    for (std::size_t open = message.find(" ("); open != std::string_view::npos; open = message.find(" (", open + 1)) {
        std::size_t start = open;
        while (start > 0 && (std::isupper(static_cast<unsigned char>(message[start - 1])) || message[start - 1] == '_'))
            --start;
        if (open - start < 2 || message.substr(start, open - start).find('_') == std::string_view::npos)
            continue;
        cause.result = std::string(message.substr(start, open - start));
        cause.resultCode = number(message.substr(open + 2));
        return;
    }
    if (const std::size_t error = message.find("error"); error != std::string_view::npos) {
        std::string_view rest = message.substr(error + 5);
        rest.remove_prefix(std::min(rest.find_first_not_of(": "), rest.size()));
        if ((cause.resultCode = number(rest)))
            cause.result = "error " + std::to_string(*cause.resultCode);
    }
}

} // namespace

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

std::int64_t completedBackups(const CheckOutcome& outcome)
{
    const BackupAnalysis& found = outcome.result.found;
    return static_cast<std::int64_t>(found.tally.endBU.size()) + found.values.unpairedCompletions;
}

std::vector<Destination> destinations(const CheckOutcome& outcome)
{
    std::vector<Destination> found;
    for (const auto& message : outcome.result.found.tally.BUdisksSet) {
        Destination& destination = found.emplace_back(Destination{message, backupTargetPath(message), {}});
        // A saved log's disks are not this machine's.
        if (destination.path && !outcome.controller.logFile() &&
            outcome.volumes.supportsVolumeSizes(*destination.path).value_or(false))
            destination.freeBytes = outcome.volumes.availableCapacity(*destination.path);
    }
    return found;
}

std::vector<Cause> causes(const CheckOutcome& outcome)
{
    std::vector<Cause> found;
    const auto add = [&found](Cause::Code code) -> Cause& {
        Cause& cause = found.emplace_back();
        cause.code = code;
        return cause;
    };
    if (!lightName(outcome.light) || !outcome.result.decoded)
        return found;
    const BackupTally& tally = outcome.result.found.tally;
    const AnalysisValues& values = outcome.result.found.values;
    const CheckAssessment& assessment = outcome.result.found.assessment;
    const bool completed = tally.lastBUEnd < kDistantFuture;
    if (std::ranges::find(assessment.causes, GapCause::diskNotConnected) != assessment.causes.end()) {
        Cause& cause = add(Cause::Code::diskNotConnected);
        // The newest skip's reason is the one that says the disk was away.
        for (const DatedText& skip : values.skippedBackups)
            cause.skipped += skip.text == values.skippedBackups.back().text ? 1 : 0;
        cause.minutesSinceLastBackup = assessment.minutesSinceLastCompletion;
    }
    if (!values.failedBackups.empty() && (!completed || values.failedBackups.back().time > tally.lastBUEnd)) {
        Cause& cause = add(Cause::Code::backupsFailed);
        for (const DatedText& failure : values.failedBackups)
            cause.failures += !completed || failure.time > tally.lastBUEnd ? 1 : 0;
        readFailureResult(values.failedBackups.back().text, cause);
    }
    const CheckResult& record = outcome.result;
    const auto stopped = [](SchedulerFinding finding) {
        return finding == SchedulerFinding::stopped || finding == SchedulerFinding::failedToRun;
    };
    if (record.schedulerCheckRan && (stopped(record.dasFinding) || stopped(record.ctsFinding))) {
        Cause& cause = add(Cause::Code::schedulerStopped);
        cause.das = record.dasFinding;
        cause.cts = record.ctsFinding;
    }
    if (tally.BUdisksSet.empty())
        add(Cause::Code::noDestination);
    return found;
}

std::string_view causeCode(Cause::Code code)
{
    switch (code) {
    case Cause::Code::diskNotConnected:
        return "disk_not_connected";
    case Cause::Code::backupsFailed:
        return "backups_failed";
    case Cause::Code::schedulerStopped:
        return "scheduler_stopped";
    case Cause::Code::noDestination:
        break;
    }
    return "no_destination";
}

std::string_view findingName(SchedulerFinding finding)
{
    switch (finding) {
    case SchedulerFinding::running:
        return "running";
    case SchedulerFinding::stopped:
        return "stopped";
    case SchedulerFinding::failedToRun:
        return "failed_to_run";
    case SchedulerFinding::unknown:
        break;
    }
    return "unknown";
}

namespace {

void writeFigures(JsonWriter& json, const CheckOutcome& outcome)
{
    const BackupTally& tally = outcome.result.found.tally;
    const AnalysisValues& values = outcome.result.found.values;
    const CheckAssessment& assessment = outcome.result.found.assessment;
    json.beginObject("backups")
        .integer("auto_started", static_cast<std::int64_t>(tally.startBU.size()))
        .integer("completed", completedBackups(outcome))
        .integer("manual_started", tally.numManualBackups);
    const auto sinceLast = minutesText(assessment.minutesSinceLastCompletion);
    const auto sinceManual = minutesText(assessment.minutesSinceManualStart);
    json.number("minutes_since_last_completed", optionalView(sinceLast))
        .number("minutes_since_last_manual_start", optionalView(sinceManual))
        .boolean("auto_backup_running", tally.backingUpNow)
        .boolean("manual_backup_running", tally.manualBackup);
    json.beginArray("durations_minutes");
    for (const auto& duration : assessment.BUdurations)
        json.number({}, duration);
    json.endArray().beginArray("intervals_minutes");
    for (const auto& interval : assessment.BUstartTimes)
        json.number({}, interval);
    json.endArray()
        .integer("created", tally.createdBackups)
        .integer("deleted", tally.deletedBackups)
        .integer("cancelled", static_cast<std::int64_t>(tally.cancelBU.size()))
        .integer("failed", static_cast<std::int64_t>(values.failedBackups.size()))
        .endObject();

    json.beginArray("skipped");
    for (const SkipReason& skip : assessment.skipReasons) {
        json.beginObject()
            .text("reason", skip.text)
            .integer("count", static_cast<std::int64_t>(skip.count))
            .number("minutes_since_last", formatMinutes(secondsBetween(skip.last, outcome.result.end) / 60))
            .endObject();
    }
    json.endArray();

    json.beginObject("copied").beginArray("files");
    for (const auto files : tally.copiedNumbers)
        json.integer({}, files);
    json.endArray().beginArray("data");
    for (const auto& data : tally.copiedCapacities)
        json.text({}, data);
    json.endArray().endObject();

    json.beginObject("snapshots")
        .integer("created", tally.createdSnapshots)
        .integer("deleted", tally.deletedSnapshots)
        .endObject();

    json.beginObject("scans")
        .integer("volume_backups", tally.catVolCount)
        .integer("full_first_backups", tally.catFirstBU)
        .integer("deep_scans", tally.catDeepScan)
        .integer("fsevents", tally.catFSEvents)
        .integer("snapshot_diffs", tally.catSnaps)
        .integer("consistency_scans", tally.catConsist)
        .integer("cached_events", tally.catCachedEvents)
        .integer("deep_traversals_started", static_cast<std::int64_t>(tally.startDT.size()))
        .integer("deep_traversals_completed", static_cast<std::int64_t>(tally.endDT.size()))
        .endObject();

    json.beginArray("destinations");
    for (const Destination& destination : destinations(outcome)) {
        json.beginObject()
            .text("message", destination.message)
            .text("path", optionalView(destination.path))
            .integer("free_bytes", destination.freeBytes)
            .endObject();
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

void writeCause(JsonWriter& json, const Cause& cause)
{
    json.beginObject().text("code", causeCode(cause.code));
    switch (cause.code) {
    case Cause::Code::diskNotConnected:
        json.integer("skipped", cause.skipped)
            .number("minutes_since_last_backup", optionalView(minutesText(cause.minutesSinceLastBackup)));
        break;
    case Cause::Code::backupsFailed:
        json.integer("failures", cause.failures)
            .text("result", optionalView(cause.result))
            .integer("result_code", cause.resultCode);
        break;
    case Cause::Code::schedulerStopped:
        json.text("das", findingName(cause.das)).text("cts", findingName(cause.cts));
        break;
    case Cause::Code::noDestination:
        break;
    }
    json.endObject();
}

// The cause in a few words, for the one-line formats.
std::string causeWords(const Cause& cause)
{
    switch (cause.code) {
    case Cause::Code::diskNotConnected:
        return "backup disk not connected, " +
               (cause.minutesSinceLastBackup
                    ? "last used " + formatMinutes(*cause.minutesSinceLastBackup / 60) + " hours ago"
                    : std::string("not used in the period"));
    case Cause::Code::backupsFailed:
        return std::to_string(cause.failures) + (cause.failures == 1 ? " backup failed" : " backups failed") +
               (cause.result ? ", last with " + *cause.result +
                                   (cause.resultCode && !cause.result->starts_with("error")
                                        ? " (" + std::to_string(*cause.resultCode) + ")"
                                        : "")
                             : "");
    case Cause::Code::schedulerStopped: {
        std::string words = "backup scheduling stopped (DAS " + std::string(findingName(cause.das)) + ", CTS " +
                            std::string(findingName(cause.cts)) + ")";
        std::replace(words.begin(), words.end(), '_', ' ');
        return words;
    }
    case Cause::Code::noDestination:
        break;
    }
    return "no backup destination in the period";
}

// Text from the log or an alert, kept to one line and clear of `forbidden`.
std::string oneLine(std::string_view text, std::string_view forbidden, char replacement)
{
    std::string line;
    for (const char c : text)
        line += static_cast<unsigned char>(c) < 0x20 || forbidden.find(c) != std::string_view::npos ? replacement : c;
    return line;
}

} // namespace

std::string checkJson(const CheckOutcome& outcome)
{
    const ViewController& vc = outcome.controller;
    const CheckAssessment& assessment = outcome.result.found.assessment;
    const bool verdict = lightName(outcome.light).has_value();
    JsonWriter json;
    json.beginObject()
        .integer("schema_version", kSchemaVersion)
        .text("status", lightName(outcome.light))
        .integer("assessment",
                 verdict ? std::optional(static_cast<std::int64_t>(assessment.BUassessment)) : std::nullopt)
        .integer("period_hours", vc.theTimePeriod)
        .text("report", outcome.report);
    json.beginArray("alerts");
    for (const auto& alert : outcome.alerts)
        json.text({}, alert);
    json.endArray();
    if (verdict && outcome.result.decoded) {
        json.beginArray("causes");
        for (const Cause& cause : causes(outcome))
            writeCause(json, cause);
        json.endArray().beginObject("figures");
        writeFigures(json, outcome);
        json.endObject();
    } else {
        json.null("causes").null("figures");
    }
    const CheckResult& result = outcome.result;
    json.beginObject("scheduler_check")
        .boolean("ran", result.schedulerCheckRan)
        .integer("minutes", result.schedulerCheckRan ? std::optional(assessment.DAScheckPeriod) : std::nullopt)
        .text("das", optionalText(result.dasVerdict))
        .text("cts", optionalText(result.ctsVerdict))
        .endObject();
    return json.endObject().str() + "\n";
}

std::string nagiosLine(const CheckOutcome& outcome)
{
    const auto name = lightName(outcome.light);
    const std::string state = !name ? "UNKNOWN" : *name == "green" ? "OK" : *name == "orange" ? "WARNING" : "CRITICAL";
    // The text ends at the first "|" and at the line's end: what comes from outside keeps clear of both.
    std::string line = "QUILLFEN " + state + " - ";
    if (!name || !outcome.result.decoded) {
        line += oneLine(outcome.alerts.empty() ? "couldn't get log entries and parse them" : outcome.alerts.front(),
                        "|", ' ');
        return line + "\n";
    }
    const ViewController& vc = outcome.controller;
    const std::vector<Cause> found = causes(outcome);
    if (!found.empty())
        line += oneLine(causeWords(found.front()), "|", ' ') + "; ";
    const auto sinceLast = outcome.result.found.assessment.minutesSinceLastCompletion;
    const std::int64_t errors = outcome.result.found.values.errorCount;
    const std::string completed = std::to_string(completedBackups(outcome));
    line += sinceLast ? "last backup completed " + formatMinutes(*sinceLast) + " minutes ago" : "no backup completed";
    line += ", " + completed + " completed in the last " + std::to_string(vc.theTimePeriod) + " hours, " +
            std::to_string(errors) + " errors";
    if (outcome.result.schedulerCheckRan)
        line += ", scheduler checked";
    // Performance data as 'label'=value[unit];warn;crit;min[;max]: the report's own limits of 90 minutes
    // and no error, and the free-space markers' 50 GB and 10 GB.
    line += "|last_backup_age=" +
            (sinceLast ? std::to_string(roundHalfAwayFromZero(*sinceLast * 60)) + "s" : std::string("U")) + ";;" +
            std::to_string(kOverdueMinutes * 60) + ";0 errors=" + std::to_string(errors) +
            "c;;0;0 backups_completed=" + completed +
            "c;;;0 skipped_backups=" + std::to_string(outcome.result.found.values.skippedBackups.size()) + "c;;;0";
    for (const Destination& destination : destinations(outcome)) {
        if (!destination.freeBytes)
            continue;
        std::string label;
        for (const char c : oneLine("free " + *destination.path, "=", '_'))
            label += c == '\'' ? "''" : std::string(1, c);
        line += " '" + label + "'=" + std::to_string(*destination.freeBytes) + "B;50000000000:;10000000000:;0";
    }
    return line + "\n";
}

std::string extensionAttributeLine(const CheckOutcome& outcome)
{
    const auto name = lightName(outcome.light);
    std::string text;
    if (!name) {
        text = "no verdict: " + (outcome.alerts.empty() ? "couldn't get log entries and parse them"
                                                        : oneLine(outcome.alerts.front(), "", ' '));
    } else {
        text = *name;
        if (const std::vector<Cause> found = causes(outcome); !found.empty())
            text += ": " + oneLine(causeWords(found.front()), "", ' ');
    }
    std::string line = "<result>";
    for (const char c : text)
        line += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return line + "</result>\n";
}

} // namespace quillfen::cli
