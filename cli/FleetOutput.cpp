#include "cli/FleetOutput.h"

#include "analysis/Formatting.h"
#include "cli/Json.h"
#include "logquery/LogTimestamp.h"

#include <simdjson.h>

#include <algorithm>
#include <cctype>

namespace quillfen::cli {

namespace {

// Raised whenever a member of the JSON document changes meaning or goes away.
constexpr std::int64_t kSchemaVersion = 1;

// An age as the report writes it, or nothing where the report says there was no such event.
std::optional<std::string> minutesText(const std::optional<double>& minutes)
{
    return minutes ? std::optional(formatMinutes(*minutes)) : std::nullopt;
}

std::optional<std::string_view> optionalView(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

std::optional<std::int64_t> freeBytes(const Destination& destination)
{
    return destination.space ? std::optional(destination.space->freeBytes) : std::nullopt;
}

void writeFigures(JsonWriter& json, const CheckResult& result)
{
    const BackupTally& tally = result.found.tally;
    const CheckAssessment& assessment = result.found.assessment;
    json.beginObject("backups")
        .integer("auto_started", static_cast<std::int64_t>(tally.startBU.size()))
        .integer("completed", tally.completedBackups())
        .integer("manual_started", tally.numManualBackups);
    const auto sinceLast = minutesText(assessment.minutesSinceLastCompletion);
    const auto sinceManual = minutesText(assessment.minutesSinceManualStart);
    json.number("minutes_since_last_completed", optionalView(sinceLast))
        .number("minutes_since_last_manual_start", optionalView(sinceManual))
        .boolean("auto_backup_running", tally.backingUpNow)
        .boolean("manual_backup_running", tally.manualBackup);
    json.beginArray("durations_minutes");
    for (const double duration : assessment.BUdurations)
        json.number({}, formatMinutes(duration));
    json.endArray().beginArray("intervals_minutes");
    for (const double interval : assessment.BUstartTimes)
        json.number({}, formatMinutes(interval));
    json.endArray()
        .integer("created", tally.createdBackups)
        .integer("deleted", tally.deletedBackups)
        .integer("cancelled", static_cast<std::int64_t>(tally.skips.size()))
        .integer("failed", static_cast<std::int64_t>(tally.failedBackups.size()))
        .endObject();

    json.beginArray("skipped");
    for (const SkipReason& skip : assessment.skipReasons) {
        json.beginObject()
            .text("reason", skip.text)
            .integer("count", static_cast<std::int64_t>(skip.count))
            .number("minutes_since_last", formatMinutes(skip.minutesAgo))
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
    for (const auto& [text, destination] : tally.destinations) {
        json.beginObject()
            .text("message", text)
            .text("path", optionalView(destination.path))
            .integer("free_bytes", freeBytes(destination))
            .endObject();
    }
    json.endArray();

    json.beginObject("errors").integer("count", static_cast<std::int64_t>(tally.errors.size())).beginArray("lines");
    for (const ErrorEntry& error : tally.errors)
        json.text({}, errorText(error));
    json.endArray().endObject();
}

void writeCause(JsonWriter& json, const Cause& cause)
{
    json.beginObject().text("code", causeCode(cause.code));
    switch (cause.code) {
    case CauseCode::diskNotConnected:
        json.integer("skipped", cause.count)
            .number("minutes_since_last_backup", optionalView(minutesText(cause.minutes)));
        break;
    case CauseCode::backupsFailed:
        json.integer("failures", cause.count)
            .text("result", optionalView(cause.result))
            .integer("result_code", cause.resultCode);
        break;
    case CauseCode::schedulerStopped:
        json.text("das", findingName(cause.das)).text("cts", findingName(cause.cts));
        break;
    case CauseCode::overdue:
        json.number("minutes_since_last_backup", optionalView(minutesText(cause.minutes)));
        break;
    case CauseCode::errorLines:
        json.integer("lines", cause.count);
        break;
    case CauseCode::noDestination:
    case CauseCode::noCompletion:
    case CauseCode::noAutoBackups:
    case CauseCode::backupUnderWay:
    case CauseCode::deepTraversal:
        break;
    }
    json.endObject();
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

std::string CheckOutcome::failure() const
{
    if (unwritten)
        return *unwritten;
    return result.alerts.empty() ? "couldn't get log entries and parse them" : result.alerts.front();
}

namespace {

PluginStatus statusOf(const std::optional<BackupAssessment>& light)
{
    if (!light)
        return PluginStatus::unknown;
    switch (*light) {
    case BackupAssessment::none:
        break;
    case BackupAssessment::healthy:
        return PluginStatus::ok;
    case BackupAssessment::warning:
        return PluginStatus::warning;
    case BackupAssessment::critical:
        return PluginStatus::critical;
    }
    return PluginStatus::unknown;
}

// The status the thresholds alone give, and the one that gave it: past a limit, or a limit set and no
// backup known at all.
std::pair<PluginStatus, const AgeLimit*> statusByAge(const CheckOutcome& outcome)
{
    const auto minutes = outcome.result.found.assessment.minutesSinceLastKnownCompletion;
    const auto past = [&](const std::optional<AgeLimit>& limit) {
        return limit && (!minutes || *minutes * 60 > static_cast<double>(limit->seconds));
    };
    if (past(outcome.thresholds.critical))
        return {PluginStatus::critical, &*outcome.thresholds.critical};
    if (past(outcome.thresholds.warning))
        return {PluginStatus::warning, &*outcome.thresholds.warning};
    return {PluginStatus::ok, nullptr};
}

} // namespace

PluginStatus CheckOutcome::status() const
{
    const PluginStatus byLight = statusOf(light());
    if (byLight == PluginStatus::unknown)
        return byLight;
    return std::max(byLight, statusByAge(*this).first);
}

std::string releaseText(const std::optional<OsVersion>& version)
{
    return version ? std::to_string(version->major) + "." + std::to_string(version->minor) : std::string();
}

std::string_view skipCodeName(SkipCode code)
{
    switch (code) {
    case SkipCode::noDestination:
        return "no_destination";
    case SkipCode::alreadyRunning:
        return "already_running";
    case SkipCode::notDue:
        return "not_due";
    case SkipCode::other:
        break;
    }
    return "other";
}

namespace {

std::string destinationLabel(std::string_view path)
{
    constexpr std::string_view kMounts = "/Volumes/.timemachine/";
    if (!path.starts_with(kMounts))
        return std::string(path);
    // host/UUID/share: the UUID is the mount's, not the share's.
    const std::size_t host = path.find('/', kMounts.size());
    if (host == std::string_view::npos)
        return std::string(path);
    const std::size_t mount = path.find('/', host + 1);
    const std::string_view id = path.substr(host + 1, mount == std::string_view::npos ? mount : mount - host - 1);
    constexpr std::string_view kShape = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
    const bool uuid = id.size() == kShape.size() && std::ranges::equal(id, kShape, [](char c, char shape) {
                          return shape == '-' ? c == '-' : std::isxdigit(static_cast<unsigned char>(c)) != 0;
                      });
    if (!uuid)
        return std::string(path);
    return std::string(path.substr(0, host)) + std::string(mount == std::string_view::npos ? "" : path.substr(mount));
}

} // namespace

std::map<std::string, std::int64_t> freeBytesByDestination(const BackupTally& tally)
{
    std::map<std::string, std::int64_t> free;
    for (const auto& [text, destination] : tally.destinations)
        if (destination.space)
            free[destinationLabel(*destination.path)] = destination.space->freeBytes;
    return free;
}

std::optional<std::string> CheckOutcome::raisedBy() const
{
    const auto [byAge, limit] = statusByAge(*this);
    if (!limit || byAge <= statusOf(light()) || statusOf(light()) == PluginStatus::unknown)
        return std::nullopt;
    if (!result.found.assessment.minutesSinceLastKnownCompletion)
        return "no completed backup known, limit " + limit->given;
    return "last backup older than " + limit->given;
}

std::optional<std::int64_t> durationSeconds(std::string_view text)
{
    constexpr std::int64_t kYear = 366 * 86400;
    std::int64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 's':
            text.remove_suffix(1);
            break;
        case 'm':
            unit = 60;
            text.remove_suffix(1);
            break;
        case 'h':
            unit = 3600;
            text.remove_suffix(1);
            break;
        case 'd':
            unit = 86400;
            text.remove_suffix(1);
            break;
        default:
            break;
        }
    }
    if (text.empty() || text.size() > 9 || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::int64_t seconds = std::stoll(std::string(text)) * unit;
    if (seconds < 1 || seconds > kYear)
        return std::nullopt;
    return seconds;
}

std::string_view causeCode(CauseCode code)
{
    switch (code) {
    case CauseCode::diskNotConnected:
        return "disk_not_connected";
    case CauseCode::backupsFailed:
        return "backups_failed";
    case CauseCode::schedulerStopped:
        return "scheduler_stopped";
    case CauseCode::overdue:
        return "backup_overdue";
    case CauseCode::errorLines:
        return "error_lines";
    case CauseCode::noCompletion:
        return "no_completed_backup";
    case CauseCode::noAutoBackups:
        return "no_auto_backups";
    case CauseCode::backupUnderWay:
        return "backup_under_way";
    case CauseCode::deepTraversal:
        return "deep_traversal";
    case CauseCode::noDestination:
        break;
    }
    return "no_destination";
}

std::string checkJson(const CheckOutcome& outcome)
{
    const CheckResult& result = outcome.result;
    const auto light = outcome.light();
    JsonWriter json;
    json.beginObject()
        .integer("schema_version", kSchemaVersion)
        .text("status", lightName(light))
        .integer("assessment", light ? std::optional(static_cast<std::int64_t>(*light)) : std::nullopt)
        .integer("period_hours", result.hours);
    const std::optional<Date> lastCompletion = light ? result.found.assessment.lastCompletion : std::nullopt;
    const std::string completedAt = lastCompletion ? rfc3339(*lastCompletion) : "";
    json.text("last_backup_completed_at", lastCompletion ? std::optional<std::string_view>(completedAt) : std::nullopt)
        .text("report", result.report);
    json.beginArray("alerts");
    for (const auto& alert : result.alerts)
        json.text({}, alert);
    if (outcome.unwritten)
        json.text({}, *outcome.unwritten);
    json.endArray();
    if (light) {
        json.beginArray("causes");
        for (const Cause& cause : result.found.assessment.causes)
            writeCause(json, cause);
        json.endArray().beginObject("figures");
        writeFigures(json, result);
        json.endObject();
    } else {
        json.null("causes").null("figures");
    }
    const std::optional<SchedulerVerdicts>& scheduler = result.scheduler;
    json.beginObject("scheduler_check")
        .boolean("ran", scheduler.has_value())
        .integer("minutes", scheduler ? std::optional(scheduler->minutes) : std::nullopt)
        .text("das", scheduler ? optionalView(scheduler->das) : std::nullopt)
        .text("cts", scheduler ? optionalView(scheduler->cts) : std::nullopt)
        .endObject();
    // Where and when: what a fleet's collector keeps beside the verdict.
    const std::string checkedAt = rfc3339(outcome.checkedAt), periodEnd = light ? rfc3339(result.end) : "";
    const std::string macos = releaseText(outcome.macos);
    json.text("summary", summaryLine(outcome))
        .text("checked_at", checkedAt)
        .text("period_end", light ? std::optional<std::string_view>(periodEnd) : std::nullopt)
        .text("host", outcome.host)
        .text("version", QUILLFEN_VERSION)
        .text("macos", macos.empty() ? std::nullopt : std::optional<std::string_view>(macos));
    return json.endObject().str() + "\n";
}

std::string nagiosLine(const CheckOutcome& outcome)
{
    constexpr std::string_view kStates[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    const PluginStatus status = outcome.status();
    // The text ends at the first "|" and at the line's end: what comes from outside keeps clear of both.
    std::string line = "QUILLFEN " + std::string(kStates[static_cast<int>(status)]) + " - ";
    if (status == PluginStatus::unknown)
        return line + oneLine(outcome.failure(), "|", ' ') + "\n";
    const CheckResult& result = outcome.result;
    const BackupTally& tally = result.found.tally;
    const CheckAssessment& assessment = result.found.assessment;
    if (const auto raised = outcome.raisedBy())
        line += *raised + "; ";
    if (!assessment.causes.empty())
        line += oneLine(causeWords(assessment.causes.front()), "|", ' ') + "; ";
    const auto sinceLast = assessment.minutesSinceLastCompletion;
    const auto sinceKnown = assessment.minutesSinceLastKnownCompletion;
    const std::string errors = std::to_string(tally.errors.size());
    const std::string completed = std::to_string(tally.completedBackups());
    line += sinceLast ? "last backup completed " + formatMinutes(*sinceLast) + " minutes ago" : "no backup completed";
    line +=
        ", " + completed + " completed in the last " + std::to_string(result.hours) + " hours, " + errors + " errors";
    if (result.scheduler)
        line += ", scheduler checked";
    // Performance data as 'label'=value[unit];warn;crit;min[;max]: the thresholds given, else the report's own
    // limit of 90 minutes; no error, and the free-space markers' 50 GB and 10 GB. Counts over the period are
    // plain numbers: they are no counters, whose rate a grapher would take.
    const auto skippedWithReason =
        std::ranges::count_if(tally.skips, [](const SkippedBackup& skip) { return skip.reason.has_value(); });
    // The age reaches back before the period when the log does.
    const auto limit = [](const std::optional<AgeLimit>& given, std::string fallback) {
        return given ? std::to_string(given->seconds) : fallback;
    };
    line += "|last_backup_age=" +
            (sinceKnown ? std::to_string(roundHalfAwayFromZero(*sinceKnown * 60)) + "s" : std::string("U")) + ";" +
            limit(outcome.thresholds.warning, "") + ";" +
            limit(outcome.thresholds.critical, std::to_string(kOverdueMinutes * 60)) + ";0 errors=" + errors +
            ";;0;0 backups_completed=" + completed + ";;;0 skipped_backups=" + std::to_string(skippedWithReason) +
            ";;;0";
    for (const auto& [path, freeBytes] : freeBytesByDestination(tally)) {
        std::string label;
        for (const char c : oneLine("free " + path, "=", '_'))
            label += c == '\'' ? "''" : std::string(1, c);
        line += " '" + label + "'=" + std::to_string(freeBytes) + "B;50000000000:;10000000000:;0";
    }
    return line + "\n";
}

std::string summaryLine(const CheckOutcome& outcome)
{
    const auto name = lightName(outcome.light());
    if (!name)
        return "no verdict: " + oneLine(outcome.failure(), "", ' ');
    std::string text(*name);
    if (const std::vector<Cause>& causes = outcome.result.found.assessment.causes; !causes.empty())
        text += ": " + oneLine(causeWords(causes.front()), "", ' ');
    return text;
}

namespace {

std::string resultLine(std::string_view text)
{
    std::string line = "<result>";
    for (const char c : text)
        line += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return line + "</result>\n";
}

} // namespace

std::string extensionAttributeLine(const CheckOutcome& outcome)
{
    return resultLine(summaryLine(outcome));
}

std::pair<std::string, PluginStatus> savedExtensionAttribute(std::string_view json, std::string_view name, Date now,
                                                             std::string_view unreadable)
{
    const auto unread = [&](std::string_view why) {
        return std::pair{resultLine("no verdict: the saved Check \"" + std::string(name) + "\" " + std::string(why)),
                         PluginStatus::unknown};
    };
    if (!unreadable.empty())
        return unread("could not be read: " + std::string(unreadable));
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(json);
    simdjson::dom::element root;
    std::string_view summary, checkedAt;
    if (parser.parse(padded).get(root) || root["summary"].get(summary) || root["checked_at"].get(checkedAt))
        return unread("does not read as one (save it with check --save-result)");
    // "2026-12-07T04:51:33Z", as the time of a log entry reads it.
    std::optional<Date> checked;
    if (checkedAt.size() == 20 && checkedAt[10] == 'T' && checkedAt.back() == 'Z')
        checked = parseLogTimestamp(std::string(checkedAt.substr(0, 10)) + ' ' + std::string(checkedAt.substr(11, 8)) +
                                    ".0Z");
    if (!checked)
        return unread("has no time it was made at");
    std::string_view status;
    const PluginStatus byLight = root["status"].get(status) ? PluginStatus::unknown
                                 : status == "green"        ? PluginStatus::ok
                                 : status == "orange"       ? PluginStatus::warning
                                 : status == "red"          ? PluginStatus::critical
                                                            : PluginStatus::unknown;
    const double minutes = std::max(0.0, (now.sinceEpoch - checked->sinceEpoch) / 60);
    return {resultLine(oneLine(summary, "", ' ') + " (checked " + formatMinutes(minutes) + " minutes ago)"), byLight};
}

} // namespace quillfen::cli
