#include "analysis/Tally.h"

#include "analysis/Punctuation.h"
#include "analysis/VolumeSpace.h"
#include "logquery/LogTimestamp.h"

#include <cctype>
#include <charconv>

namespace quillfen {

std::string destinationText(const Destination& destination)
{
    return destination.named == Destination::Named::mountPoint ? "Backup volume: " + destination.path.value_or("")
                                                               : destination.message;
}

std::string errorText(const ErrorEntry& error)
{
    return error.timestamp + " " + error.message;
}

std::vector<std::string_view> splitWords(std::string_view message)
{
    std::vector<std::string_view> words;
    for (;;) {
        const std::size_t blank = message.find(' ');
        words.push_back(message.substr(0, blank));
        if (blank == std::string_view::npos)
            return words;
        message.remove_prefix(blank + 1);
    }
}

namespace {

// An optional sign, then one or more ASCII digits and nothing else, within 64 bits.
std::optional<std::int64_t> readWholeInteger(std::string_view word)
{
    const bool signed_ = !word.empty() && (word.front() == '+' || word.front() == '-');
    const std::string_view digits = word.substr(signed_ ? 1 : 0);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::string_view number = word.front() == '+' ? digits : word;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc())
        return std::nullopt;
    return value;
}

// "56.7", "1,234" or "Zero" (as the Mac writes no bytes): the figure of a size, nothing else.
bool isSizeNumber(std::string_view text)
{
    return text == "Zero" || (text.find_first_of("0123456789") != std::string_view::npos &&
                              text.find_first_not_of("0123456789.,") == std::string_view::npos);
}

// "MB", "bytes", "KB": letters only, as a unit of bytes is written.
bool isSizeUnit(std::string_view text)
{
    return !text.empty() && text.size() <= 5 &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos;
}

// Digits, then at most one point and more digits, taken from the front of `rest`: read by hand,
// as the figure's point is no locale's.
std::optional<double> readDecimal(std::string_view& rest)
{
    double value = 0, scale = 1;
    bool digits = false, point = false;
    for (; !rest.empty() && (std::isdigit(static_cast<unsigned char>(rest.front())) || (rest.front() == '.' && !point));
         rest.remove_prefix(1)) {
        if (rest.front() == '.') {
            point = true;
            continue;
        }
        const int digit = rest.front() - '0';
        digits = true;
        if (point)
            value += digit * (scale /= 10);
        else
            value = value * 10 + digit;
    }
    return digits ? std::optional(value) : std::nullopt;
}

// Only these classes read the entry's time.
bool needsTime(EntryClass entryClass)
{
    switch (entryClass) {
    case EntryClass::autoStart:
    case EntryClass::manualStart:
    case EntryClass::backupCompleted:
    case EntryClass::deepTraversal:
    case EntryClass::scanFinished:
    case EntryClass::scheduleSkipped:
    case EntryClass::backupSucceeded:
    case EntryClass::backupFailed:
    case EntryClass::backupSkipped:
        return true;
    default:
        return false;
    }
}

bool spanUnderWay(const BackupTally& tally)
{
    return !tally.backups.empty() && !tally.backups.back().end;
}

void startSpan(BackupTally& tally, Date time, bool manual)
{
    if (spanUnderWay(tally))
        tally.backups.back().end = time;
    tally.backups.push_back(BackupSpan{time, std::nullopt, manual, false});
}

// A completion without a start in the period belongs to a backup that began before it.
void completeSpan(BackupTally& tally, Date time)
{
    if (!spanUnderWay(tally))
        tally.backups.push_back(BackupSpan{});
    tally.backups.back().end = time;
    tally.backups.back().completed = true;
}

void failSpan(BackupTally& tally, Date time)
{
    if (spanUnderWay(tally)) {
        tally.backups.back().end = time;
        tally.backups.back().failed = true;
    }
}

void applyCompletion(BackupTally& tally, BackupTally::Walk::CompletionLine line, Date time, Release osVersion)
{
    using Line = BackupTally::Walk::CompletionLine;
    if (tally.walk.completionLine != Line::none && tally.walk.completionLine != line)
        return;
    tally.walk.completionLine = line;
    completeSpan(tally, time);
    if (tally.startBU.empty() || tally.manualBackup)
        ++tally.unpairedCompletions;
    else
        tally.endBU.push_back(time);
    tally.lastBUEnd = time;
    tally.backingUpNow = false;
    tally.manualBackup = false;
    if (osVersion.logsSnapshots())
        ++tally.createdBackups;
}

// Lists `destination` under its text, in place of what was listed before under `key`.
void addDestination(BackupTally& tally, const std::string& key, Destination destination)
{
    std::string text = destinationText(destination);
    auto [known, added] = tally.walk.byPath.try_emplace(key, text);
    if (!added && known->second != text) {
        tally.destinations.erase(known->second);
        known->second = text;
    }
    tally.destinations.insert_or_assign(std::move(text), std::move(destination));
}

void addBackupTarget(BackupTally& tally, std::string_view message)
{
    if (!tally.walk.backingUpToSeen) {
        tally.destinations.clear();
        tally.walk.byPath.clear();
        tally.walk.backingUpToSeen = true;
    }
    Destination destination{Destination::Named::backingUpTo, std::string(message), backupTargetPath(message), {}};
    const std::string key = destination.path.value_or(destination.message);
    addDestination(tally, key, std::move(destination));
}

void addMountedDestination(BackupTally& tally, std::string_view message)
{
    auto mounted = extractMountedDestination(message);
    if (tally.walk.backingUpToSeen || !mounted)
        return;
    addDestination(tally, mounted->volume,
                   Destination{Destination::Named::mountPoint, {}, std::move(mounted->path), {}});
}

// The text between the first `opening` and the next `closing` after it; none when either is
// missing or nothing stands between them.
std::optional<std::string> textBetween(std::string_view message, std::string_view opening, std::string_view closing)
{
    const std::size_t start = message.find(opening);
    if (start == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = message.substr(start + opening.size());
    const std::size_t end = rest.find(closing);
    if (end == std::string_view::npos || end == 0)
        return std::nullopt;
    return std::string(rest.substr(0, end));
}

// The path a "Backup result" names as its destination's mount point.
std::optional<std::string> resultDestination(std::string_view message)
{
    return textBetween(message, "DestinationMountPoint = \"", "\"");
}

// A backup running where the period shows none began before it. Whether the backup under way is that one.
bool markRunningFromBefore(BackupTally& tally)
{
    if (tally.backups.empty()) {
        tally.backups.push_back(BackupSpan{});
        tally.runningFromBefore = true;
        tally.backingUpNow = true;
    }
    return tally.stillRunningFromBefore();
}

// Signs that a backup is being made: a scheduled run skipped because one is, a result that says so,
// its in-progress folder or its progress short of done. Before any start or completion in the period they show a
// backup that began before it; the destination they name stands in like a mount point.
void noteRunning(BackupTally& tally, EntryClass entryClass, std::string_view message)
{
    const bool result = entryClass == EntryClass::backupResult;
    const auto destination = result ? resultDestination(message) : extractInProgressDestination(message);
    const auto percent = extractPercentDone(message);
    const bool running = entryClass == EntryClass::backupRunning ||
                         (result && message.find("Running = 1;") != std::string_view::npos) ||
                         (!result && destination) || (percent && *percent < 100);
    if (destination && !tally.walk.backingUpToSeen)
        addDestination(tally, *destination, Destination{Destination::Named::mountPoint, {}, *destination, {}});
    if (!running)
        return;
    if (!markRunningFromBefore(tally))
        return;
    if (destination)
        tally.runningTo = destination;
    if (percent)
        tally.percentDone = percent;
}

void applyEffect(BackupTally& tally, EntryClass entryClass, std::string_view message, Date time, Release osVersion)
{
    using Line = BackupTally::Walk::CompletionLine;
    switch (entryClass) {
    case EntryClass::autoStart:
        startSpan(tally, time, false);
        tally.startBU.push_back(time);
        tally.backingUpNow = true;
        tally.manualBackup = false;
        tally.walk.completionLine = Line::none;
        break;
    case EntryClass::manualStart:
        startSpan(tally, time, true);
        tally.manualBackup = true;
        tally.lastManualBackup = time;
        ++tally.numManualBackups;
        tally.walk.completionLine = Line::none;
        break;
    case EntryClass::backupTarget:
        addBackupTarget(tally, message);
        break;
    case EntryClass::backupCreated:
        ++tally.createdBackups;
        break;
    case EntryClass::backupDeleted:
        ++tally.deletedBackups;
        break;
    case EntryClass::copiedItems:
        if (auto report = extractCopyReport(message)) {
            if (report->itemCount)
                tally.copiedNumbers.push_back(*report->itemCount);
            if (report->sizeText)
                tally.copiedCapacities.push_back(std::move(*report->sizeText));
        }
        break;
    case EntryClass::spaceAvailable:
        if (auto space = extractAvailableSpace(message))
            tally.BUdiskCaps.push_back(std::move(*space));
        break;
    case EntryClass::shareSpaceAvailable:
        if (auto space = extractShareSpace(message))
            tally.BUdiskCaps.push_back(std::move(*space));
        break;
    case EntryClass::backupCompleted:
        applyCompletion(tally, Line::other, time, osVersion);
        break;
    case EntryClass::backupSucceeded:
        applyCompletion(tally, Line::succeeded, time, osVersion);
        break;
    case EntryClass::mountedDestination:
        addMountedDestination(tally, message);
        break;
    case EntryClass::backupFailed:
        failSpan(tally, time);
        tally.backingUpNow = false;
        tally.manualBackup = false;
        tally.failedBackups.push_back({time, std::string(message)});
        break;
    case EntryClass::backupSkipped:
        tally.skips.push_back({time, std::string(message.substr(message.find(kSkipPhrase) + kSkipPhrase.size()))});
        break;
    case EntryClass::deepTraversal:
        tally.startDT.push_back(time);
        break;
    case EntryClass::scanFinished:
        tally.endDT.push_back(time);
        break;
    case EntryClass::scheduleSkipped:
        tally.skips.push_back({time, std::nullopt});
        break;
    case EntryClass::compacting:
        ++tally.compactionsStarted;
        break;
    case EntryClass::compactionDone:
        ++tally.compactionsCompleted;
        break;
    case EntryClass::snapshotCreated:
        ++tally.createdSnapshots;
        break;
    case EntryClass::snapshotDeleted:
        ++tally.deletedSnapshots;
        break;
    case EntryClass::volumeStrategy:
        ++tally.catVolCount;
        break;
    case EntryClass::deepScan:
        ++tally.catDeepScan;
        break;
    case EntryClass::fsEventsScan:
        ++tally.catFSEvents;
        break;
    case EntryClass::firstBackup:
        ++tally.catFirstBU;
        ++tally.catVolCount;
        break;
    case EntryClass::snapshotDiff:
        ++tally.catSnaps;
        break;
    case EntryClass::consistencyScan:
        ++tally.catConsist;
        break;
    case EntryClass::cachedEvents:
        ++tally.catCachedEvents;
        break;
    case EntryClass::backupResult:
        tally.backupResults.emplace_back(message);
        break;
    case EntryClass::backupRunning:
    case EntryClass::unclassified:
        break;
    }
}

} // namespace

std::optional<CopyReport> extractCopyReport(std::string_view message)
{
    const auto words = splitWords(message);
    if (words.size() <= 5)
        return std::nullopt;
    CopyReport report;
    report.itemCount = readWholeInteger(words[1]);
    const std::string_view number = trimPunctuation(words[3]), unit = trimPunctuation(words[4]);
    if (isSizeNumber(number) && isSizeUnit(unit))
        report.sizeText = std::string(number) + " " + std::string(unit);
    return report;
}

std::optional<std::string> extractAvailableSpace(std::string_view message)
{
    const auto words = splitWords(message);
    const std::size_t count = words.size();
    if (count <= 4)
        return std::nullopt;
    return std::string(words[count - 3]) + " " + std::string(words[count - 2]);
}

std::optional<std::string> extractShareSpace(std::string_view message)
{
    return textBetween(message, "supports required network capabilities (", " of ");
}

std::optional<std::string> extractInProgressDestination(std::string_view message)
{
    std::size_t folder = message.find(".inProgress");
    if (folder == std::string_view::npos)
        folder = message.find(".inprogress");
    if (folder == std::string_view::npos)
        return std::nullopt;
    const std::size_t volumes = message.rfind("/Volumes/", folder);
    if (volumes == std::string_view::npos)
        return std::nullopt;
    const std::string_view path = message.substr(volumes, folder - volumes);
    const std::size_t database = path.find("/Backups.backupdb/");
    const std::size_t end = database != std::string_view::npos ? database : path.rfind('/');
    if (end <= std::string_view("/Volumes/").size())
        return std::nullopt;
    return std::string(path.substr(0, end));
}

std::optional<double> extractPercentDone(std::string_view message)
{
    constexpr std::string_view kOpening = "Progress: ";
    const std::size_t opening = message.find(kOpening);
    if (opening == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = message.substr(opening + kOpening.size());
    const std::optional<double> percent = readDecimal(rest);
    if (!percent || !rest.starts_with("% done") || *percent > 100)
        return std::nullopt;
    return percent;
}

std::optional<MountedDestination> extractMountedDestination(std::string_view message)
{
    const std::optional<std::string> mounted = textBetween(message, "Mountpoint '", "' is still valid");
    if (!mounted)
        return std::nullopt;
    const std::string_view path = *mounted;

    std::string volume(path);
    constexpr std::string_view kShares = "/Volumes/.timemachine/";
    if (path.starts_with(kShares)) {
        const std::size_t host = path.find('/', kShares.size());
        const std::size_t mount = host == std::string_view::npos ? host : path.find('/', host + 1);
        if (mount != std::string_view::npos) {
            std::string_view share = path.substr(mount);
            while (share.ends_with('/'))
                share.remove_suffix(1);
            volume = std::string(path.substr(0, host)).append(share);
        }
    }
    return MountedDestination{std::move(volume), std::string(path)};
}

void EarlierBackups::note(Date time, std::string_view message)
{
    const auto newer = [time](const std::optional<Date>& known) { return !known || *known < time; };
    switch (classifyEntry(message)) {
    case EntryClass::autoStart:
    case EntryClass::manualStart:
        if (newer(lastStart)) {
            lastStart = time;
            lastStartManual = classifyEntry(message) == EntryClass::manualStart;
        }
        break;
    case EntryClass::backupCompleted:
    case EntryClass::backupSucceeded:
        if (newer(lastCompletion))
            lastCompletion = time;
        break;
    case EntryClass::backupFailed:
        if (newer(lastFailure))
            lastFailure = time;
        break;
    case EntryClass::backupTarget:
        if (!lastTarget || lastTarget->time < time)
            lastTarget = DatedText{time, std::string(message)};
        break;
    default:
        break;
    }
}

std::optional<Date> EarlierBackups::openStart() const
{
    const auto before = [this](const std::optional<Date>& end) { return !end || *end < *lastStart; };
    return lastStart && before(lastCompletion) && before(lastFailure) ? lastStart : std::nullopt;
}

std::optional<BackupStatus> readBackupStatus(std::string_view output)
{
    if (output.find("Running = 1;") == std::string_view::npos)
        return std::nullopt;
    BackupStatus status{resultDestination(output), std::nullopt};
    constexpr std::string_view kPercent = "Percent = \"";
    if (const std::size_t at = output.find(kPercent); at != std::string_view::npos) {
        std::string_view rest = output.substr(at + kPercent.size());
        // A fraction of one, as "0.6907".
        if (const auto fraction = readDecimal(rest); fraction && *fraction <= 1 && rest.starts_with('"'))
            status.percentDone = *fraction * 100;
    }
    return status;
}

void applyEarlier(BackupTally& tally, EarlierBackups earlier, Date end)
{
    constexpr double kDaySeconds = 24 * 60 * 60;
    const std::optional<Date> open = earlier.openStart();
    if (tally.backups.empty() && open && secondsBetween(*open, end) <= kDaySeconds) {
        tally.backups.push_back(BackupSpan{open, std::nullopt, earlier.lastStartManual, false});
        tally.runningFromBefore = true;
        (earlier.lastStartManual ? tally.manualBackup : tally.backingUpNow) = true;
    }
    if (tally.stillRunningFromBefore() && open) {
        tally.backups[0].start = tally.backups[0].start.value_or(*open);
        if (earlier.lastTarget && earlier.lastTarget->time >= *open) {
            if (tally.destinations.empty())
                addBackupTarget(tally, earlier.lastTarget->text);
            if (!tally.runningTo)
                tally.runningTo = backupTargetPath(earlier.lastTarget->text);
        }
    }
    tally.earlier = std::move(earlier);
}

void applyStatus(BackupTally& tally, const BackupStatus& status)
{
    if (!markRunningFromBefore(tally))
        return;
    if (!tally.runningTo)
        tally.runningTo = status.destination;
    // Now is fresher than the log's last progress line.
    if (status.percentDone) {
        tally.percentDone = status.percentDone;
        tally.percentFromStatus = true;
    }
    if (status.destination && tally.destinations.empty())
        addDestination(tally, *status.destination,
                       Destination{Destination::Named::mountPoint, {}, *status.destination, {}});
}

void tallyEntry(BackupTally& tally, const LogEntry& entry, Release osVersion)
{
    const EntryClass entryClass = classifyEntry(entry.eventMessage);
    const bool error = isErrorEntry(entryClass, entry.eventMessage);
    // Snapshots and errors count without a time; the timeline takes theirs when it reads.
    std::optional<Date> time;
    if (needsTime(entryClass) || entryClass == EntryClass::snapshotCreated || error)
        time = entry.time ? entry.time : parseLogTimestamp(entry.timestamp);
    if (time || !needsTime(entryClass))
        applyEffect(tally, entryClass, entry.eventMessage, time.value_or(Date{}), osVersion);
    if (time && entryClass == EntryClass::snapshotCreated)
        tally.snapshotTimes.push_back(*time);

    noteRunning(tally, entryClass, entry.eventMessage);

    if (error)
        tally.errors.push_back({std::string(entry.timestamp), time, std::string(entry.eventMessage)});
}

} // namespace quillfen
