#include "macsim/logshow.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace quillfen::macsim {
namespace {

using namespace std::chrono;

constexpr std::string_view logTimePattern = "0000-00-00 00:00:00.000000+0000";

int digitsAt(std::string_view text, std::size_t position, std::size_t count)
{
    int value = 0;
    for (char c : text.substr(position, count))
        value = value * 10 + (c - '0');
    return value;
}

[[noreturn]] void failEntry(std::size_t index, std::string_view problem)
{
    throw ArchiveError("entry " + std::to_string(index + 1) + " " + std::string(problem));
}

// One step of a manual backup as backupd logs it, after the request.
struct BackupStep {
    seconds after;
    std::string_view formatString, message;
    std::uint32_t programCounter;
};

constexpr BackupStep manualBackupSteps[] = {
    {seconds{0}, "Starting manual backup", "Starting manual backup", 2264094},
    {seconds{3}, "Backing up to %{public}@: %{public}@",
     "Backing up to /dev/disk4s2: /Volumes/Quillfen Backup/Backups.backupdb", 491211},
    {minutes{2}, "Backup completed successfully.", "Backup completed successfully.", 2165160},
};

// Laid out like the bundled samples, so that nothing tells these entries apart from recorded ones.
constexpr std::string_view backupEntryLayout = R"({
  "timezoneName" : "",
  "messageType" : "Default",
  "eventType" : "logEvent",
  "source" : null,
  "formatString" : "@FORMAT@",
  "userID" : 0,
  "activityIdentifier" : @ACTIVITY@,
  "subsystem" : "com.apple.TimeMachine",
  "category" : "General",
  "threadID" : 1258421,
  "senderImageUUID" : "7CE42C82-1807-4E8C-B5BF-992DC9E9C616",
  "backtrace" : {
    "frames" : [
      {
        "imageOffset" : @PC@,
        "imageUUID" : "7CE42C82-1807-4E8C-B5BF-992DC9E9C616"
      }
    ]
  },
  "bootUUID" : "C386BBC4-CD61-4E30-98F1-6ADF91B7584A",
  "processImagePath" : "\/System\/Library\/CoreServices\/backupd.bundle\/Contents\/Resources\/backupd",
  "senderImagePath" : "\/System\/Library\/PrivateFrameworks\/TimeMachine.framework\/Versions\/A\/TimeMachine",
  "timestamp" : "@TIMESTAMP@",
  "machTimestamp" : @MACH@,
  "eventMessage" : "@MESSAGE@",
  "processImageUUID" : "C2CE6F44-7ED4-457B-9E2F-EB89414C343C",
  "traceID" : 25799869434955415,
  "processID" : 22067,
  "senderProgramCounter" : @PC@,
  "parentActivityIdentifier" : 0
})";

// The log tool writes slashes escaped; the step texts hold no other character JSON escapes.
std::string escapingSlashes(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '/')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

struct AddedEntry {
    Instant at;
    std::string text;
};

// The selected entries of the manual backups the requests started, in time order.
std::vector<AddedEntry> manualBackupEntries(std::span<const Instant> requests, const ShowRequest& request,
                                            minutes offset)
{
    std::vector<AddedEntry> entries;
    for (const Instant requested : requests) {
        for (const BackupStep& step : manualBackupSteps) {
            if (request.predicate && !request.predicate->selects("com.apple.TimeMachine", step.message))
                continue;
            const Instant at = requested + step.after;
            std::string text(backupEntryLayout);
            const std::pair<std::string_view, std::string> fields[] = {
                {"@FORMAT@", escapingSlashes(step.formatString)},
                {"@ACTIVITY@", std::to_string(floor<seconds>(requested).time_since_epoch().count())},
                {"@PC@", std::to_string(step.programCounter)},
                {"@TIMESTAMP@", formatLogTime({.instant = at, .offset = offset})},
                {"@MACH@", std::to_string(at.time_since_epoch().count())},
                {"@MESSAGE@", escapingSlashes(step.message)},
            };
            for (const auto& [name, value] : fields) {
                for (std::size_t found; (found = text.find(name)) != std::string::npos;)
                    text.replace(found, name.size(), value);
            }
            entries.push_back({at, std::move(text)});
        }
    }
    std::ranges::stable_sort(entries, {}, &AddedEntry::at);
    return entries;
}

} // namespace

std::optional<std::uint32_t> parseCount(std::string_view text)
{
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end)
        return std::nullopt;
    return value;
}

std::optional<seconds> parsePeriod(std::string_view text)
{
    static constexpr std::array<std::pair<char, seconds>, 4> units{
        {{'s', seconds{1}}, {'m', minutes{1}}, {'h', hours{1}}, {'d', days{1}}}};
    if (text.empty())
        return std::nullopt;
    const auto unit = std::ranges::find(units, text.back(), &std::pair<char, seconds>::first);
    const auto count = parseCount(text.substr(0, text.size() - 1));
    if (unit == units.end() || !count)
        return std::nullopt;
    return *count * unit->second;
}

std::optional<LogTime> parseLogTime(std::string_view text)
{
    if (text.size() != logTimePattern.size())
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char want = logTimePattern[i];
        const bool fits = want == '0'   ? text[i] >= '0' && text[i] <= '9'
                          : want == '+' ? text[i] == '+' || text[i] == '-'
                                        : text[i] == want;
        if (!fits)
            return std::nullopt;
    }
    const year_month_day date{year{digitsAt(text, 0, 4)}, month(unsigned(digitsAt(text, 5, 2))),
                              day(unsigned(digitsAt(text, 8, 2)))};
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    const int offsetHours = digitsAt(text, 27, 2), offsetMinutes = digitsAt(text, 29, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59 || offsetHours > 23 || offsetMinutes > 59) {
        return std::nullopt;
    }
    const minutes offset{(text[26] == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes)};
    const auto local =
        sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + microseconds{digitsAt(text, 20, 6)};
    return LogTime{.instant = local - offset, .offset = offset};
}

std::string formatLogTime(const LogTime& time)
{
    const auto local = time.instant + time.offset;
    const auto midnight = floor<days>(local);
    const year_month_day date{midnight};
    const hh_mm_ss clock{local - midnight};
    const long offset = long(std::abs(time.offset.count()));
    std::array<char, 64> text{}; // room for any field values, so no truncation is possible
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02u %02ld:%02ld:%02ld.%06ld%c%02ld%02ld", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), long(clock.hours().count()),
                  long(clock.minutes().count()), long(clock.seconds().count()), long(clock.subseconds().count()),
                  time.offset.count() < 0 ? '-' : '+', offset / 60, offset % 60);
    return text.data();
}

seconds shiftPlacing(Instant newest, Instant target)
{
    return floor<seconds>(target - newest);
}

ShowRequest parseShowArguments(std::span<const std::string_view> arguments)
{
    ShowRequest request;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view option = arguments[i];
        if (option == "--info")
            continue;
        if (option != "--predicate" && option != "--style" && option != "--last" && option != "--archive") {
            throw UsageError("log: unknown argument '" + std::string(option) + "'");
        }
        if (++i == arguments.size())
            throw UsageError("log: " + std::string(option) + " needs a value");
        const std::string_view value = arguments[i];
        if (option == "--predicate") {
            request.predicate = parsePredicate(value);
            if (!request.predicate)
                throw UsageError("log: cannot parse predicate: " + std::string(value));
        } else if (option == "--style") {
            if (value != "json" && value != "ndjson")
                throw UsageError("log: the simulated Mac prints only --style json or ndjson, not " +
                                 std::string(value));
            request.ndjson = value == "ndjson";
        } else if (option == "--archive") {
            request.archive = std::string(value);
        } else {
            request.last = parsePeriod(value);
            if (!request.last)
                throw UsageError("log: --last wants a count and s, m, h or d, not " + std::string(value));
        }
    }
    return request;
}

std::string backupRequestLine(Instant requested)
{
    return std::to_string(floor<seconds>(requested).time_since_epoch().count()) + "\n";
}

std::vector<Instant> parseBackupRequests(std::string_view state)
{
    std::vector<Instant> requests;
    while (!state.empty()) {
        const std::size_t end = std::min(state.find('\n'), state.size());
        if (const auto count = parseCount(state.substr(0, end)))
            requests.push_back(Instant{seconds{*count}});
        state.remove_prefix(std::min(end + 1, state.size()));
    }
    return requests;
}

std::string showLog(const simdjson::padded_string& archive, const ShowRequest& request, NewestAge newestAge,
                    Instant now, std::span<const Instant> backupRequests)
{
    struct Selected {
        std::string_view text;   // the whole entry, from { to }
        std::size_t timestampAt; // where its timestamp value starts within text
        LogTime time;
    };
    std::vector<Selected> selected;
    std::optional<LogTime> newest;
    const char* archiveEnd = archive.data() + archive.size();
    std::size_t index = 0;
    try {
        simdjson::ondemand::parser parser;
        simdjson::ondemand::document document = parser.iterate(archive);
        for (simdjson::ondemand::object entry : document.get_array()) {
            simdjson::ondemand::raw_json_string rawTimestamp;
            if (entry["timestamp"].get_raw_json_string().get(rawTimestamp))
                failEntry(index, "has no timestamp text");
            // A valid timestamp has no escapes, so its text ends at the next quote.
            const char* start = rawTimestamp.raw();
            const std::string_view timestamp{start, std::size_t(std::find(start, archiveEnd, '"') - start)};
            const auto time = parseLogTime(timestamp);
            if (!time)
                failEntry(index, "has a timestamp unlike \"2023-02-17 20:55:55.408772-0800\"");
            if (!newest || time->instant > newest->instant)
                newest = time;

            bool wanted = true;
            if (request.predicate) {
                // Missing or non-text members simply do not match.
                std::string_view subsystem, message;
                wanted = !entry["subsystem"].get_string().get(subsystem) &&
                         (!request.predicate->readsMessage() || !entry["eventMessage"].get_string().get(message)) &&
                         request.predicate->selects(subsystem, message);
            }
            const std::string_view raw = entry.raw_json();
            if (wanted) {
                const std::string_view text = raw.substr(0, raw.find_last_not_of(" \t\r\n") + 1);
                selected.push_back({text, std::size_t(timestamp.data() - text.data()), *time});
            }
            ++index;
        }
        if (document.current_location().error() != simdjson::OUT_OF_BOUNDS) {
            throw ArchiveError("text follows the array of entries");
        }
    } catch (const simdjson::simdjson_error& error) {
        throw ArchiveError("not a JSON array of log entries (" + std::string(error.what()) + ", near entry " +
                           std::to_string(index + 1) + ")");
    }

    const seconds shift = newest && newestAge ? shiftPlacing(newest->instant, now - *newestAge) : seconds{0};
    const auto added = manualBackupEntries(backupRequests, request, newest ? newest->offset : minutes{0});
    std::size_t size = 3;
    for (const auto& entry : selected)
        size += entry.text.size() + 1;
    for (const auto& entry : added)
        size += entry.text.size() + 1;
    std::string output;
    output.reserve(size);
    if (!request.ndjson)
        output += '[';
    const auto shown = [&](Instant at) { return at <= now && (!request.last || at >= now - *request.last); };
    const auto separate = [&] {
        if (!request.ndjson && output.size() > 1)
            output += ',';
    };
    const auto append = [&](std::string_view text) {
        if (!request.ndjson) {
            output += text;
            return;
        }
        std::string line(text.size(), '\0');
        std::size_t length = 0;
        if (simdjson::minify(text.data(), text.size(), line.data(), length) != simdjson::SUCCESS)
            throw ArchiveError("an entry does not minify");
        output.append(line.data(), length) += '\n';
    };
    // A plain merge: the archive's order stands even where its times are not sorted.
    auto next = added.begin();
    const auto addUntil = [&](Instant before) {
        for (; next != added.end() && next->at < before; ++next) {
            if (shown(next->at)) {
                separate();
                append(next->text);
            }
        }
    };
    for (const auto& entry : selected) {
        const Instant at = entry.time.instant + shift;
        if (!shown(at))
            continue;
        addUntil(at);
        separate();
        if (shift == seconds{0}) {
            append(entry.text);
            continue;
        }
        append(std::string(entry.text.substr(0, entry.timestampAt)) +
               formatLogTime({.instant = at, .offset = entry.time.offset}) +
               std::string(entry.text.substr(entry.timestampAt + logTimePattern.size())));
    }
    addUntil(Instant::max());
    if (!request.ndjson)
        output += "]\n";
    return output;
}

std::string backupStatus(const simdjson::padded_string& shown)
{
    constexpr std::string_view starts[] = {"Starting automatic backup", "Starting manual backup", "backup with mode"};
    constexpr std::string_view ends[] = {
        "Backup completed successfully",     "Completed backup", "Backup succeeded",
        "Successfully completed backing up", "Backup failed",    "Failing backup with"};
    const auto any = [](std::string_view message, std::span<const std::string_view> phrases) {
        return std::ranges::any_of(phrases, [message](std::string_view p) { return message.find(p) != message.npos; });
    };
    bool running = false;
    std::string destination, percent;
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document document = parser.iterate(shown);
    for (auto entry : document.get_array()) {
        std::string_view message;
        if (entry["eventMessage"].get_string().get(message))
            continue;
        if (any(message, starts)) {
            running = true;
            destination.clear();
            percent.clear();
        } else if (any(message, ends)) {
            running = false;
        }
        if (const std::size_t volume = message.find("/Volumes/");
            running && destination.empty() && volume != message.npos)
            destination = message.substr(volume, message.find_first_of("/'\" ", volume + 9) - volume);
        if (const std::size_t progress = message.find("Progress: "); running && progress != message.npos) {
            const std::string_view rest = message.substr(progress + 10);
            unsigned done = 0;
            const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), done);
            if (error == std::errc{} && done < 100 && std::string_view(end, rest.end()).starts_with("% done")) {
                std::array<char, 8> fraction{};
                std::snprintf(fraction.data(), fraction.size(), "0.%02u", done);
                percent = fraction.data();
            }
        }
    }
    std::string status = "Backup session status:\n{\n    ClientID = \"com.apple.backupd\";\n";
    if (running) {
        status += "    BackupPhase = Copying;\n";
        if (!destination.empty())
            status += "    DestinationMountPoint = \"" + destination + "\";\n";
        if (!percent.empty())
            status += "    Percent = \"" + percent + "\";\n";
    }
    return status + "    Running = " + (running ? "1" : "0") + ";\n}\n";
}

} // namespace quillfen::macsim
