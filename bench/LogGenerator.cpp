#include "bench/LogGenerator.h"

#include "logquery/LogTimestamp.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>
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
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    std::int64_t between(std::int64_t low, std::int64_t high)
    {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low + 1)));
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }

private:
    std::uint64_t state_;
};

struct Sender {
    std::string_view processImagePath;
    std::string_view senderImagePath;
    std::string_view processImageUUID;
    std::string_view senderImageUUID;
    std::int64_t processID;
    std::int64_t threadID;
};

constexpr std::string_view kBackupd = "/System/Library/CoreServices/backupd.bundle/Contents/Resources/backupd";
constexpr std::string_view kHelper = "/System/Library/CoreServices/backupd.bundle/Contents/Resources/backupd-helper";
constexpr std::string_view kFramework =
    "/System/Library/PrivateFrameworks/TimeMachine.framework/Versions/A/TimeMachine";

const std::array<Sender, 3> kSenders{{
    {kBackupd, kBackupd, "6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B", "6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B", 23864,
     1363816},
    {kBackupd, kFramework, "6F3A2B1C-9D8E-4F70-8A1B-2C3D4E5F6A7B", "0C1D2E3F-4A5B-4C6D-8E7F-901A2B3C4D5E", 23864,
     1363902},
    {kHelper, kHelper, "A1B2C3D4-E5F6-4718-9A0B-C1D2E3F4A5B6", "A1B2C3D4-E5F6-4718-9A0B-C1D2E3F4A5B6", 412, 5531},
}};

constexpr std::string_view kBootUUID = "3E5D7A90-1B2C-4D3E-9F40-5A6B7C8D9E0F";

struct Event {
    double time; // seconds since the generator's virtual start
    std::string message;
    std::string_view formatString;
    std::string_view category;
    std::string_view messageType;
    std::size_t sender;
};

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void begin(bool first) { out_ += first ? "[{\n" : "},{\n"; }
    void end(bool any) { out_ += any ? "}]\n" : "[]\n"; }

    void key(std::string_view name, int indent = 2)
    {
        out_.append(static_cast<std::size_t>(indent), ' ');
        out_ += '"';
        out_ += name;
        out_ += "\" : ";
    }
    void string(std::string_view name, std::string_view value, bool last = false, int indent = 2)
    {
        key(name, indent);
        quoted(value);
        out_ += last ? "\n" : ",\n";
    }
    void integer(std::string_view name, std::uint64_t value, bool last = false, int indent = 2)
    {
        key(name, indent);
        char digits[24];
        const auto stop = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out_.append(digits, static_cast<std::size_t>(stop - digits));
        out_ += last ? "\n" : ",\n";
    }
    void raw(std::string_view text) { out_ += text; }

    // The tool escapes '/' as well as what JSON requires; other text stays UTF-8.
    void quoted(std::string_view text)
    {
        out_ += '"';
        for (const char c : text) {
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '/':
                out_ += "\\/";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out_ += escape;
                } else {
                    out_ += c;
                }
            }
        }
        out_ += '"';
    }

    std::size_t size() const { return out_.size(); }

private:
    std::string& out_;
};

// Fixed width, so timestamps can be written once the time scale is known.
constexpr std::string_view kTimestampPlaceholder = "0000-00-00 00:00:00.000000+0000";

void formatTimestamp(char* out, double time, int offsetMinutes)
{
    const double local = time + offsetMinutes * 60.0;
    const double wholeSeconds = std::floor(local);
    const auto micros = static_cast<long long>((local - wholeSeconds) * 1e6);
    const auto seconds = static_cast<long long>(wholeSeconds);
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld.%06lld%c%02d%02d", date.year,
                  date.month, date.day, rest / 3600, rest / 60 % 60, rest % 60, micros, offsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    std::copy_n(buffer, kTimestampPlaceholder.size(), out);
}

// "2026-12-05-104100", the name Time Machine gives a backup or snapshot.
std::string backupName(double time)
{
    const auto seconds = static_cast<long long>(std::floor(time));
    const CivilDate date = civilFromDays(seconds / 86400);
    const long long rest = seconds % 86400;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u-%02lld%02lld%02lld", date.year, date.month, date.day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return buffer;
}

std::string sizeText(Random& random, const char* unit, int low, int high)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d.%d %s", static_cast<int>(random.between(low, high)),
                  static_cast<int>(random.below(10)), unit);
    return buffer;
}

class Generator {
public:
    explicit Generator(const LogShape& shape)
        : shape_(shape), random_(shape.seed), virtualStart_(shape.endTime - shape.hours * 3600)
    {
    }

    std::string run()
    {
        std::string out;
        out.reserve(shape_.targetBytes + (64 << 10));
        Writer writer(out);
        const double span = shape_.hours * 3600;
        double nextNoise = 0;
        double nextCycle = static_cast<double>(random_.between(60, 900));
        std::size_t count = 0;
        double noiseInterval = span / std::max(1.0, static_cast<double>(shape_.targetBytes) / 1250.0);

        for (;;) {
            const bool full = writer.size() >= shape_.targetBytes;
            if (full && pending_.empty())
                break;
            Event event;
            if (!pending_.empty() && (full || pending_.front().time <= std::min(nextNoise, nextCycle))) {
                event = std::move(pending_.front());
                pending_.pop_front();
            } else if (nextCycle <= nextNoise) {
                scheduleCycle(nextCycle);
                nextCycle += static_cast<double>(random_.between(3300, 3900));
                continue;
            } else {
                event = noise(nextNoise);
                nextNoise += noiseInterval * (0.5 + random_.unit());
            }
            if (event.time < lastTime_)
                event.time = lastTime_;
            lastTime_ = event.time;
            writeEntry(writer, event, count == 0);
            ++count;
            if (count % 512 == 0)
                noiseInterval = retune(writer.size(), count, event.time, span);
        }
        writer.end(count > 0);
        stampTimes(out, span);
        return out;
    }

private:
    // Spreads the noise that still fits in the size over the time that is left.
    double retune(std::size_t bytes, std::size_t count, double now, double span) const
    {
        const double average = static_cast<double>(bytes) / static_cast<double>(count);
        const double remainingEntries =
            (static_cast<double>(shape_.targetBytes) - static_cast<double>(bytes)) / average;
        const double remainingTime = std::max(span - now, 60.0);
        const double cycleRate = static_cast<double>(cycleEntries_) / std::max(now, 1.0);
        const double noiseEntries = remainingEntries - cycleRate * remainingTime;
        return noiseEntries < 1 ? remainingTime : remainingTime / noiseEntries;
    }

    // Fits the virtual timeline into the period ending at endTime: squeezed when the
    // size asked for more entries than the period held, never stretched (stretching
    // would push the hourly cycles apart).
    void stampTimes(std::string& out, double span) const
    {
        const double used = std::max(lastTime_, 1.0);
        const double scale = used > span ? span / used : 1.0;
        for (const auto& [offset, time] : stamps_)
            formatTimestamp(out.data() + offset, shape_.endTime - (lastTime_ - time) * scale, shape_.utcOffsetMinutes);
    }

    void add(double time, std::string message, std::string_view formatString, std::string_view category = "General",
             std::string_view messageType = "Default", std::size_t sender = 0)
    {
        pending_.push_back(Event{time, std::move(message), formatString, category, messageType, sender});
        ++cycleEntries_;
    }

    void scheduleCycle(double start)
    {
        ++cycle_;
        const double duration = static_cast<double>(random_.between(120, 900));
        const auto at = [&](double fraction) { return start + duration * fraction; };
        const std::string name = backupName(virtualStart_ + at(1.0));
        const bool rotate = cycle_ % 7 == 0;
        const std::string_view disk = rotate ? "/dev/disk5s2" : "/dev/disk4s2";
        const std::string_view volume = rotate ? "/Volumes/TM Archive" : "/Volumes/TM";

        add(at(0), "Starting automatic backup", "Starting automatic backup");
        add(at(0.01), "Backing up to " + std::string(disk) + ": " + std::string(volume) + "/Backups.backupdb",
            "Backing up to %@: %@");
        add(at(0.02), "Mountpoint '" + std::string(volume) + "' is still valid", "Mountpoint '%@' is still valid");
        switch (cycle_ % 24) {
        case 1:
            add(at(0.03), "First backup of source: \"Macintosh HD\" (device: /dev/disk1s1 mount: '/')",
                "First backup of source: \"%@\" (device: %@ mount: '%@')");
            break;
        case 9:
            add(at(0.03), "Deep scan required for Macintosh HD (reason: must scan subdirs)", "%{public}@");
            break;
        case 17:
            add(at(0.03), "Using cached events for Macintosh HD", "Using cached events for %@");
            break;
        default:
            add(at(0.03), "Using FSEvents for Macintosh HD", "Using FSEvents for %@");
        }
        if (cycle_ % 5 == 0)
            add(at(0.035), "Possible strategies for Macintosh HD: FSEvents, snapshot diff, deep scan",
                "Possible strategies for %@: %@");
        if (cycle_ % 6 == 0)
            add(at(0.04), "Using snapshot diff for Macintosh HD", "Using snapshot diff for %@");
        const std::string willCopy = sizeText(random_, "MB", 1, 900);
        add(at(0.05), "Will copy (" + willCopy + ") from Macintosh HD", "Will copy (%@) from %@");
        add(at(0.06),
            "Found " + std::to_string(random_.between(10, 40000)) + " files (" + willCopy + ") needing backup",
            "Found %lu files (%@) needing backup");
        add(at(0.07),
            sizeText(random_, "GB", 1, 9) + " required (including padding), " + sizeText(random_, "TB", 1, 3) +
                " available",
            "%@ required (including padding), %@ available");
        add(at(0.9),
            "Copied " + std::to_string(random_.between(10, 40000)) + " items (" + willCopy +
                ") from volume Macintosh HD. Linked " + std::to_string(random_.between(1, 30)) + ".",
            "Copied %lu items (%@) from volume %@. Linked %lu.");
        add(at(0.92), "Created new backup: " + name, "Created new backup: %@");
        add(at(0.93), "Starting post-backup thinning", "Starting post-backup thinning");
        if (cycle_ % 4 == 0) {
            add(at(0.94),
                "Deleted " + std::string(volume) + "/Backups.backupdb/USER’s Mac mini/" +
                    backupName(virtualStart_ + at(0) - 30 * 86400.0) + " (" + sizeText(random_, "MB", 1, 500) + ")",
                "Deleted %@ (%@)");
            add(at(0.95), "Post-back up thinning complete: 1 expired backups removed",
                "Post-back up thinning complete: %lu expired backups removed");
        } else {
            add(at(0.95), "No post-back up thinning needed: no expired backups exist",
                "No post-back up thinning needed: no expired backups exist");
        }
        add(at(0.97), backupResult(), "Backup result: %@");
        add(at(1.0), "Backup completed successfully.", "Backup completed successfully.");
        add(at(1.0) + 20,
            "Created Time Machine local snapshot with name 'com.apple.TimeMachine." + name +
                ".local' on disk '/System/Volumes/Data'",
            "Created Time Machine local snapshot with name '%@' on disk '%@'", "LocalSnapshotManagement");
        add(at(1.0) + 25,
            "Age-based thinning deleted Time Machine snapshot 'com.apple.TimeMachine." +
                backupName(virtualStart_ + at(0) - 86400.0) + ".local' on disk '/System/Volumes/Data",
            "Age-based thinning deleted Time Machine snapshot '%@' on disk '%@", "LocalThinning");
        // An occasional extra manual backup, and rare housekeeping that real Macs log.
        if (cycle_ % 12 == 5) {
            const double manual = start + 1500;
            add(manual, "Starting manual backup", "Starting manual backup");
            add(manual + 1, "Backing up to /dev/disk4s2: /Volumes/TM/Backups.backupdb", "Backing up to %@: %@");
            add(manual + 200,
                "Copied " + std::to_string(random_.between(10, 4000)) + " items (" + sizeText(random_, "MB", 1, 90) +
                    ") from volume Macintosh HD. Linked 3.",
                "Copied %lu items (%@) from volume %@. Linked %lu.");
            add(manual + 210, "Backup completed successfully.", "Backup completed successfully.");
        }
        if (cycle_ % 30 == 11) {
            add(at(1.0) + 60, "Forcing deep traversal on source: \"Macintosh HD\" (mount: '/')",
                "Forcing deep traversal on source: \"%@\" (mount: '%@')");
            add(at(1.0) + 400, "Finished scan", "Finished scan");
        }
        if (cycle_ % 40 == 23) {
            add(at(1.0) + 90, "Compacting backup disk image to recover free space",
                "Compacting backup disk image to recover free space");
            add(at(1.0) + 300, "Completed backup disk image compaction", "Completed backup disk image compaction");
            add(at(1.0) + 310, "Not starting scheduled Time Machine backup - time machine destination not resolvable.",
                "%{public}@", "BackupScheduling", "Default", 2);
        }
        if (cycle_ % 13 == 7)
            add(at(0.5), "Running consistency scan on Macintosh HD", "Running consistency scan on %@");
        if (cycle_ % 19 == 3)
            add(at(0.6),
                "Error: Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\" while saving "
                "/Volumes/TM/Backups.backupdb/.eventdb",
                "%{public}@", "TMLogError", "Error");
        // Events were added by kind, not by time.
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Event& a, const Event& b) { return a.time < b.time; });
    }

    std::string backupResult()
    {
        const auto bytes = random_.between(1'000'000, 9'000'000'000);
        return "Backup result: {\n    BackupStrategy = 2;\n    BlocksToCopy = " + std::to_string(bytes / 4096) +
               ";\n    BytesToCopy = " + std::to_string(bytes) +
               ";\n    ClientID = \"com.apple.backupd\";\n    DestinationMountPoint = \"/Volumes/TM\";\n"
               "    FreeBytes = " +
               std::to_string(random_.between(100'000'000'000, 3'000'000'000'000)) +
               ";\n    PaddedBytesRequired = " + std::to_string(bytes + bytes / 5) +
               ";\n    Progress =     {\n        Percent = \"0." + std::to_string(random_.between(1000, 9999)) +
               "\";\n    };\n    Running = 1;\n    \"com.apple.backupd.SnapshotTotalBytesCopied\" = " +
               std::to_string(bytes) + ";\n}";
    }

    Event noise(double time)
    {
        const auto pick = random_.below(100);
        if (pick < 48)
            return {
                time, "com.apple.backupd.sandbox.xpc: connection invalid", "%s: connection invalid", "General", "Error",
                0};
        if (pick < 53)
            return {time,
                    random_.chance(0.6) ? "com.apple.backupd.xpc: connection invalid"
                                        : "com.apple.backupd.status.xpc: connection invalid",
                    "%s: connection invalid",
                    "General",
                    "Error",
                    0};
        if (pick < 72) {
            static constexpr std::array<std::string_view, 4> kSpotlight{
                "Spotlight index is up to date for '/Volumes/TM'",
                "Waiting for index to be ready (100)",
                "Spotlight importer returned status 0 for '/System/Volumes/Data'",
                "Updated Spotlight index for '/Volumes/TM/Backups.backupdb' in 0.42 seconds",
            };
            return {time, std::string(kSpotlight[random_.below(kSpotlight.size())]), "%{public}@", "Spotlight", "Info",
                    1};
        }
        if (pick < 78)
            return {time,
                    "TMPowerState: " + std::to_string(random_.between(1, 4)),
                    "TMPowerState: %d",
                    "PowerManagement",
                    "Info",
                    0};
        if (pick < 82)
            return {time,
                    random_.chance(0.5) ? "Running for notifyd event com.apple.powermanagement.systempowerstate"
                                        : "Triggered for screen unlock!",
                    "%{public}@",
                    "BackupScheduling",
                    "Default",
                    2};
        if (pick < 85)
            return {time,
                    "Not prioritizing backups with priority errors. lockState=0",
                    "Not prioritizing backups with priority errors. lockState=%d",
                    "General",
                    "Default",
                    0};
        if (pick < 89)
            return {time,
                    ".          .\n\tProgress: " + std::to_string(random_.between(1, 99)) +
                        "% done, -, - MB/s, avg: 0.00 MB/s, - items/s, avg: 0.00 items/s\n\t\tByPhysicalSize:" +
                        std::to_string(random_.between(1, 99)) +
                        "% (l:75.6 MB p:63.2 MB)\n\tCopied: " + std::to_string(random_.between(1, 90000)) +
                        " (l:75.6 MB p:63.2 MB) Propagated: 17712 (l:1.46 GB p:1.31 GB) Cloned: 0 (l:Zero KB "
                        "p:Zero KB)\n\tTotal Items Added (l: 42.28 GB p: 42.26 GB)",
                    "%{public}@",
                    "CopyProgress",
                    "Default",
                    0};
        if (pick < 91)
            return {time,
                    "Starting age based thinning of Time Machine local snapshots on disk '/System/Volumes/Data'",
                    "Starting age based thinning of Time Machine local snapshots on disk '%@'",
                    "LocalThinning",
                    "Default",
                    0};
        if (pick < 93)
            return {time,
                    "Thinning 1 backups using age-based thinning, expected free space: 701.08 GB actual free space: "
                    "701.08 GB trigger 50 GB thin 83.33 GB dates: (\n    \"" +
                        backupName(virtualStart_ + time - 40 * 86400.0) + "\"\n)",
                    "%{public}@",
                    "BackupThinning",
                    "Default",
                    0};
        if (pick < 95)
            return {time,
                    "Found 229 perfect clone families, 2 partial clone families. Shared space 116.6 MB "
                    "(116636387 bytes).",
                    "%{public}@",
                    "General",
                    "Default",
                    0};
        if (pick < 97)
            return {time,
                    "Unmounted '/Volumes/com.apple.TimeMachine.localsnapshots/Backups.backupdb/USER’s Mac mini/" +
                        backupName(virtualStart_ + time) + "/Data'",
                    "Unmounted '%@'",
                    "General",
                    "Default",
                    0};
        if (pick < 98)
            return {time,
                    "'/Volumes/タイムマシンのバックアップ' - no volume mounted at this path",
                    "'%@' - no volume mounted at this path",
                    "MountPointValidity",
                    "Error",
                    0};
        if (pick < 99)
            return {time,         "Limiting logging for limit: aFewTimes key: \"map auto_home\"",
                    "%{public}@", "LogLimits",
                    "Default",    0};
        return {time,
                "Failed to get resource value 'NSURLVolumeURLForRemountingKey' for '/Volumes/TM', error: Error "
                "Domain=NSCocoaErrorDomain Code=257 \"The file couldn’t be opened.\"",
                "%{public}@",
                "General",
                "Error",
                0};
    }

    void writeEntry(Writer& writer, const Event& event, bool first)
    {
        const Sender& sender = kSenders[event.sender];
        const std::uint64_t pc = static_cast<std::uint64_t>(random_.between(20000, 900000));
        writer.begin(first);
        writer.string("timezoneName", "");
        writer.string("messageType", event.messageType);
        writer.string("eventType", "logEvent");
        writer.key("source");
        writer.raw("null,\n");
        writer.string("formatString", event.formatString);
        writer.integer("userID", 0);
        writer.integer("activityIdentifier", random_.chance(0.7) ? 0 : random_.below(9'000'000));
        writer.string("subsystem", "com.apple.TimeMachine");
        writer.string("category", event.category);
        writer.integer("threadID", static_cast<std::uint64_t>(sender.threadID) + random_.below(4));
        writer.string("senderImageUUID", sender.senderImageUUID);
        writer.raw("  \"backtrace\" : {\n    \"frames\" : [\n      {\n");
        writer.integer("imageOffset", pc, false, 8);
        writer.string("imageUUID", sender.senderImageUUID, true, 8);
        writer.raw("      }\n    ]\n  },\n");
        writer.string("bootUUID", kBootUUID);
        writer.string("processImagePath", sender.processImagePath);
        writer.string("senderImagePath", sender.senderImagePath);
        writer.key("timestamp");
        stamps_.push_back({writer.size() + 1, event.time});
        writer.quoted(kTimestampPlaceholder);
        writer.raw(",\n");
        writer.integer("machTimestamp", 5'377'653'386'596ULL + static_cast<std::uint64_t>(event.time * 1e9));
        writer.string("eventMessage", event.message);
        writer.string("processImageUUID", sender.processImageUUID);
        // Trace IDs run past 2^53, which a decoder must not reject.
        writer.integer("traceID", 45'473'881'108'119'556ULL + random_.below(1ULL << 50));
        writer.integer("processID", static_cast<std::uint64_t>(sender.processID));
        writer.integer("senderProgramCounter", pc);
        writer.integer("parentActivityIdentifier", 0, true);
    }

    LogShape shape_;
    Random random_;
    double virtualStart_;
    double lastTime_ = 0;
    std::size_t cycle_ = 0;
    std::size_t cycleEntries_ = 0;
    std::deque<Event> pending_;
    std::vector<std::pair<std::size_t, double>> stamps_;
};

} // namespace

std::string generateLogJson(const LogShape& shape)
{
    return Generator(shape).run();
}

} // namespace quillfen::bench
