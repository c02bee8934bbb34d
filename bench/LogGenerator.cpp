#include "bench/LogGenerator.h"

#include "platform/Date.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

namespace quillfen::bench {

namespace {

// splitmix64: fast, seedable, and the same everywhere, so runs are comparable.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::int64_t between(std::int64_t low, std::int64_t high)
    {
        return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
    }

private:
    std::uint64_t state_;
};

// Most of a real capture: messages the check passes over.
constexpr std::array<std::string_view, 8> kNoise{
    "com.apple.backupd.sandbox.xpc: connection invalid",
    "com.apple.backupd.sandbox.xpc: connection invalid",
    "com.apple.backupd.xpc: connection invalid",
    "Spotlight index is up to date for '/Volumes/TM'",
    "TMPowerState: 2",
    "Not prioritizing backups with priority errors. lockState=0",
    ".          .\n\tCopied: 1708 (l:75.6 MB p:63.2 MB) Propagated: 17712 (l:1.46 GB p:1.31 GB)",
    "'/Volumes/タイムマシンのバックアップ' - no volume mounted at this path",
};

// One hourly backup as the older releases log it.
std::vector<std::string> backupCycle(Random& random, std::size_t cycle)
{
    const std::string copied = std::to_string(random.between(1, 900)) + "." + std::to_string(random.between(0, 9));
    std::vector<std::string> messages{
        "Starting automatic backup",
        "Backing up to /dev/disk4s2: /Volumes/TM/Backups.backupdb",
        cycle % 24 == 9 ? "Deep scan required for Macintosh HD (reason: must scan subdirs)"
                        : "Using FSEvents for Macintosh HD",
        std::to_string(random.between(1, 9)) + ".2 GB required (including padding), 1.8 TB available",
        "Copied " + std::to_string(random.between(10, 40000)) + " items (" + copied +
            " MB) from volume Macintosh HD. Linked 7.",
        "Created new backup: 2026-12-05-1041" + std::to_string(10 + cycle % 50),
        "Backup completed successfully.",
        "Created Time Machine local snapshot with name 'com.apple.TimeMachine.2026-12-05-104110.local' on disk "
        "'/System/Volumes/Data'",
    };
    if (cycle % 19 == 3)
        messages.emplace_back("Error: Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\"");
    return messages;
}

// The tool escapes '/' as well as what JSON requires; other text stays UTF-8.
void appendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    out += '"';
}

// Who logged an entry.
struct Source {
    std::string_view process, path, subsystem, category, library;
    int pid;
};

constexpr Source kBackupd{"backupd",
                          "/System/Library/CoreServices/backupd.bundle/Contents/Resources/backupd",
                          "com.apple.TimeMachine",
                          "General",
                          "TimeMachine",
                          23864};

// What else a busy Mac logs, with a message of each.
constexpr std::array<std::pair<Source, std::string_view>, 5> kOthers{{
    {{"WindowServer", "/System/Library/PrivateFrameworks/SkyLight.framework/Resources/WindowServer",
      "com.apple.SkyLight", "default", "SkyLight", 151},
     "<private> display 1 presented frame 1284 with latency 8.3 ms"},
    {{"mDNSResponder", "/usr/sbin/mDNSResponder", "com.apple.mDNSResponder", "Default", "", 402},
     "[R18214] DNSServiceQueryRecord(15000, 0, <mask.hash: 'Zb8RoXz0+2Q6Mj8x3eL8Ew=='>, AAAA) RESULT ADD"},
    {{"kernel", "/kernel", "", "", "Sandbox", 0},
     "Sandbox: mdworker_shared(8112) deny(1) file-read-data /Users/someone/Library/Mail"},
    {{"Safari", "/Applications/Safari.app/Contents/MacOS/Safari", "com.apple.network", "connection", "Network", 5521},
     "[C17 Hostname#1c5e2a3f:443 tcp, url hash: 8a1e2c4d] cancelled"},
    {{"dasd", "/usr/libexec/dasd", "com.apple.duetactivityscheduler", "scoring", "", 113},
     "Rescoring all 301 activities [<private>]"},
}};

constexpr std::string_view kTimestampPlaceholder = "0000-00-00 00:00:00.000000+0000";

// The tool's pretty printing and keys; the timestamp is written later.
void appendJson(std::string& out, const Source& from, std::string_view message, std::uint64_t traceID, bool first)
{
    out += first ? "[{\n" : "},{\n";
    out += "  \"timezoneName\" : \"\",\n  \"messageType\" : \"Default\",\n  \"eventType\" : \"logEvent\",\n"
           "  \"source\" : null,\n  \"formatString\" : \"%{public}@\",\n  \"userID\" : 0,\n"
           "  \"activityIdentifier\" : 0,\n  \"subsystem\" : ";
    appendQuoted(out, from.subsystem);
    out += ",\n  \"category\" : ";
    appendQuoted(out, from.category);
    out += ",\n  \"threadID\" : 1363816,\n"
           "  \"senderImageUUID\" : \"6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B\",\n"
           "  \"backtrace\" : {\n    \"frames\" : [\n      {\n        \"imageOffset\" : 23864,\n"
           "        \"imageUUID\" : \"6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B\"\n      }\n    ]\n  },\n"
           "  \"bootUUID\" : \"3E5D7A90-1B2C-4D3E-9F40-5A6B7C8D9E0F\",\n"
           "  \"processImagePath\" : ";
    appendQuoted(out, from.path);
    out += ",\n  \"timestamp\" : \"" + std::string(kTimestampPlaceholder) +
           "\",\n  \"machTimestamp\" : 5377653386596,\n  \"eventMessage\" : ";
    appendQuoted(out, message);
    // Trace IDs run past 2^53, which a decoder must not reject.
    out += ",\n  \"traceID\" : " + std::to_string(traceID) + ",\n  \"processID\" : " + std::to_string(from.pid) +
           ",\n  \"parentActivityIdentifier\" : 0\n";
}

void appendNdjson(std::string& out, const Source& from, std::string_view message, std::uint64_t traceID)
{
    out += R"({"timezoneName":"","messageType":"Default","eventType":"logEvent","source":null,)"
           R"("formatString":"%{public}@","userID":0,"activityIdentifier":0,"subsystem":)";
    appendQuoted(out, from.subsystem);
    out += R"(,"category":)";
    appendQuoted(out, from.category);
    out += R"(,"threadID":1363816,"senderImageUUID":"6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B",)"
           R"("bootUUID":"3E5D7A90-1B2C-4D3E-9F40-5A6B7C8D9E0F","processImagePath":)";
    appendQuoted(out, from.path);
    out += R"(,"timestamp":")" + std::string(kTimestampPlaceholder) +
           R"(","machTimestamp":5377653386596,)"
           R"("eventMessage":)";
    appendQuoted(out, message);
    out += R"(,"traceID":)" + std::to_string(traceID) + R"(,"processID":)" + std::to_string(from.pid) +
           R"(,"parentActivityIdentifier":0})" + "\n";
}

// "process: (library) [subsystem:category] message", as the text styles end their lines.
void appendSender(std::string& out, const Source& from, std::string_view message)
{
    if (!from.library.empty())
        out += "(" + std::string(from.library) + ") ";
    if (!from.subsystem.empty())
        out += "[" + std::string(from.subsystem) + ":" + std::string(from.category) + "] ";
    out += message;
    out += '\n';
}

void appendText(std::string& out, GeneratedStyle style, const Source& from, std::string_view message)
{
    const std::string pid = std::to_string(from.pid);
    if (style == GeneratedStyle::Default) {
        out += std::string(kTimestampPlaceholder) + " 0x14d0a8   Default     0x0                  " + pid +
               std::string(pid.size() < 7 ? 7 - pid.size() : 1, ' ') + "0    " + std::string(from.process) + ": ";
    } else {
        out += std::string(kTimestampPlaceholder.substr(0, 23)) + " Df " + std::string(from.process) + "[" + pid +
               ":14d0a8] ";
    }
    appendSender(out, from, message);
}

// "yyyy-MM-dd HH:mm:ss.SSSSSS±HHMM" over the placeholder, which has the same width; the compact
// style's "yyyy-MM-dd HH:mm:ss.SSS" without an offset in its shorter one.
void stamp(char* out, std::size_t width, double time, int offsetMinutes)
{
    const double local = time + offsetMinutes * 60.0;
    const auto micros = static_cast<long long>((local - std::floor(local)) * 1e6);
    const std::chrono::sys_seconds at = wholeSecond(Date{local});
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(at);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{at - day};
    const int offset = std::abs(offsetMinutes);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d.%06lld%c%02d%02d",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), micros, offsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    std::copy_n(buffer, width, out);
}

// A "Backup result" as the newer releases log it, over several lines.
std::string backupResult(Random& random)
{
    return "Backup result: {\n    BackupStrategy = 2;\n    DestinationMountPoint = \"/Volumes/Backup 8TB\";\n"
           "    FreeBytes = " +
           std::to_string(random.between(1'000'000'000, 8'000'000'000'000)) +
           ";\n    Progress =     {\n        Percent = \"0." + std::to_string(random.between(10, 99)) +
           "\";\n        TimeRemaining = " + std::to_string(random.between(60, 9000)) +
           ";\n        bytes = " + std::to_string(random.between(1000, 900'000'000)) +
           ";\n        files = " + std::to_string(random.between(1, 90000)) + ";\n    };\n    Running = 1;\n}";
}

} // namespace

std::string generateLog(const LogShape& shape)
{
    Random random(shape.seed);
    std::string out;
    out.reserve(shape.targetBytes + (64 << 10));
    const bool json = shape.style == GeneratedStyle::Json;
    const bool text = shape.style == GeneratedStyle::Default || shape.style == GeneratedStyle::Compact;
    const std::size_t width = shape.style == GeneratedStyle::Compact ? 23 : kTimestampPlaceholder.size();
    if (shape.style == GeneratedStyle::Default)
        out += "Timestamp                       Thread     Type        Activity             PID    TTL  \n";
    if (shape.style == GeneratedStyle::Compact)
        out += "Timestamp               Ty Process[PID:TID]\n";
    // About so many bytes an entry: a backup cycle every hour of the period, or as many as asked for.
    const double entryBytes = json ? 900 : text ? 160 : 700;
    const bool dense = shape.backups > 0;
    const double cycles = dense ? static_cast<double>(shape.backups) : std::max(shape.hours, 1.0);
    const std::size_t perCycle = std::max<std::size_t>(
        dense ? 10 : 20, static_cast<std::size_t>(static_cast<double>(shape.targetBytes) / entryBytes / cycles));
    std::vector<std::size_t> stamps;
    std::vector<std::string> pending;
    std::size_t cycle = 0;
    while (out.size() < shape.targetBytes || !pending.empty()) {
        if (pending.empty() && stamps.size() % perCycle == perCycle / 2 && out.size() < shape.targetBytes) {
            pending = backupCycle(random, ++cycle);
            std::reverse(pending.begin(), pending.end());
        }
        std::string message;
        const Source* from = &kBackupd;
        const std::size_t n = stamps.size() + 1;
        // Past the size asked for, only the backup under way is finished, even when every entry was to be an error.
        const bool finishing = out.size() >= shape.targetBytes;
        if (!finishing && shape.otherPercent > 0 && random.between(1, 100) <= shape.otherPercent) {
            const auto& [other, text] = kOthers[static_cast<std::size_t>(random.between(0, kOthers.size() - 1))];
            from = &other;
            message = text;
        } else if (!finishing && shape.errorEvery > 0 && n % shape.errorEvery == 0) {
            message =
                "Error: Error Domain=NSPOSIXErrorDomain Code=5 \"Input/output error\" at item " + std::to_string(n);
        } else if (!finishing && shape.skipEvery > 0 && n % shape.skipEvery == 0) {
            message = "Skipping scheduled Time Machine backup: Volume " + std::to_string(n) + " is busy";
        } else if (!pending.empty() && (finishing || dense || random.between(0, 3) == 0)) {
            message = std::move(pending.back());
            pending.pop_back();
        } else if (shape.results) {
            message = backupResult(random);
        } else {
            message = kNoise[static_cast<std::size_t>(random.between(0, kNoise.size() - 1))];
        }
        const std::size_t at = out.size();
        const std::uint64_t traceID = 45'473'881'108'119'556ULL + random.next() % (1ULL << 50);
        if (json)
            appendJson(out, *from, message, traceID, stamps.empty());
        else if (text)
            appendText(out, shape.style, *from, message);
        else
            appendNdjson(out, *from, message, traceID);
        stamps.push_back(out.find(kTimestampPlaceholder.substr(0, width), at));
    }
    if (json)
        out += stamps.empty() ? "[]\n" : "}]\n";
    // Spread evenly over the period, the newest entry at its end.
    const double span = shape.hours * 3600;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const double fraction = stamps.size() > 1 ? static_cast<double>(i) / static_cast<double>(stamps.size() - 1) : 1;
        stamp(out.data() + stamps[i], width, shape.endTime - span * (1 - fraction), shape.utcOffsetMinutes);
    }
    return out;
}

} // namespace quillfen::bench
