#include "logquery/LogFile.h"

#include "logquery/Gzip.h"
#include "logquery/LogQuery.h"
#include "logquery/LogReader.h"
#include "logquery/LogTimestamp.h"
#include "logquery/Predicate.h"
#include "platform/ReadAhead.h"
#include "platform/TimeZone.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <unordered_set>

namespace quillfen {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
// An entry dated further than this from every other (a clock wrong for a moment) is no part of the
// log's run of times; so many such entries at most are held aside while the file may still vouch for them.
constexpr double kStraySeconds = 24.0 * 60 * 60;
constexpr std::size_t kMostHeldAside = 16;
// How much of a file's end is read to find where its log ends.
constexpr std::size_t kTailBytes = std::size_t{1} << 20;

bool near(Date a, Date b)
{
    return std::abs(secondsBetween(a, b)) <= kStraySeconds;
}

// Keeps what each predicate selects and the span of the whole file, or, told where the log ends,
// hands the first query's entries of the period to the tally instead.
class Collector {
public:
    Collector(std::span<const std::string_view> predicates, const SavedLogLimits& limits, std::optional<Date> end)
        : keptSeconds_(limits.keptSeconds), heldBytes_(limits.heldBytes), passedOver_(limits.passedOver),
          tally_(limits.tally), end_(end)
    {
        for (const std::string_view text : predicates) {
            predicates_.push_back(parsePredicate(text).value());
            for (const Predicate::Clause& clause : predicates_.back().anyOf)
                if (std::ranges::find(askedSubsystems_, clause.subsystem) == askedSubsystems_.end())
                    askedSubsystems_.push_back(clause.subsystem);
        }
        log_.queries.resize(predicates_.size());
        newestOnly_.resize(predicates_.size());
        repeatsBefore_.resize(predicates_.size());
        for (const std::size_t query : limits.newestOnly)
            newestOnly_.at(query) = true;
    }

    // `only`: the query whose predicate already selected the entry (a log archive's). An entry far
    // from the run of times read so far waits aside until another entry comes near it: the run
    // begins with the first two entries near each other, and what is still aside at the end strayed.
    void add(const LogEntry& entry, std::optional<std::size_t> only = std::nullopt)
    {
        const auto time = entry.time ? entry.time : parseLogTimestamp(entry.timestamp);
        if (!time)
            return;
        // Most entries of a busy Mac's log are of subsystems no query asks about, in the run: they only move the
        // period.
        if (aside_.empty() && inRun(*time) && !asksAbout(entry.subsystem)) {
            extendRun(*time);
            return;
        }
        if (inRun(*time) || std::ranges::any_of(aside_, [&](const Aside& held) { return near(held.time, *time); })) {
            // What waited aside near it was read before it, and goes first.
            takeBackAside(*time);
            accept(entry, *time, only);
            takeBackAside(*time);
        } else if (aside_.size() < kMostHeldAside) {
            aside_.push_back({*time, std::string(entry.timestamp), std::string(entry.eventMessage),
                              std::string(entry.subsystem), only});
        } else {
            ++log_.strays;
        }
    }

    // Whether entries of the subsystem can be of any query: the others need only their times read.
    bool asksAbout(std::string_view subsystem) const
    {
        return std::ranges::find(askedSubsystems_, subsystem) != askedSubsystems_.end();
    }

    bool found() const { return found_ || !aside_.empty(); }
    // The entries to be tallied left time order: they must be kept and put in order instead.
    bool outOfOrder() const { return outOfOrder_; }
    // More is kept than a log of the period needs, unless its entries are out of order or endless.
    bool overfull() const { return keptBytes_ > heldBytes_; }
    // Entries held came out of time order.
    bool unordered() const { return unordered_; }

    SavedLog take()
    {
        // Entries that never found company stray, unless nothing else was read.
        if (!found_) {
            for (const Aside& held : aside_)
                accept({held.timestamp, held.message, held.subsystem}, held.time, held.only);
            aside_.clear();
        }
        log_.strays += aside_.size();
        aside_.clear();
        log_.tallied = end_ && found_ && !outOfOrder_ && !pastEnd_ && log_.newest == *end_;
        // An entry that two queries select is one entry of the file: its repeats count once.
        std::map<std::pair<double, std::string>, std::uint64_t> repeats;
        for (std::size_t i = 0; i < log_.queries.size(); ++i) {
            auto dropped = settle(log_.queries[i].entries);
            for (const auto& [key, count] : repeatsBefore_[i])
                dropped[key] += count;
            for (const auto& [key, count] : dropped)
                repeats[key] = std::max(repeats[key], count);
        }
        log_.repeats = tallyRepeats_;
        for (const auto& [key, count] : repeats)
            log_.repeats += count;
        return std::move(log_);
    }

private:
    struct Aside {
        Date time;
        std::string timestamp, message, subsystem;
        std::optional<std::size_t> only;
    };

    bool inRun(Date time) const
    {
        return found_ && time.sinceEpoch >= log_.oldest.sinceEpoch - kStraySeconds &&
               time.sinceEpoch <= log_.newest.sinceEpoch + kStraySeconds;
    }

    // Entries aside that the run, or an entry joining it at `time`, now reaches are part of it, in the
    // order they were read; each may reach further ones.
    void takeBackAside(Date time)
    {
        const auto reached = [&](const Aside& held) { return inRun(held.time) || near(held.time, time); };
        for (auto held = std::ranges::find_if(aside_, reached); held != aside_.end();
             held = std::ranges::find_if(aside_, reached)) {
            const Aside back = std::move(*held);
            aside_.erase(held);
            accept({back.timestamp, back.message, back.subsystem}, back.time, back.only);
        }
    }

    // The query's entries that the period, now reaching back to `oldestKept`, has left behind.
    void dropOlderThan(Date oldestKept, std::size_t query)
    {
        std::deque<KeptEntry>& entries = log_.queries[query].entries;
        while (!entries.empty() && entries.front().time < oldestKept) {
            keptBytes_ -= keptSize(entries.front());
            passOver(query, entries.front());
            entries.pop_front();
        }
    }

    // The run reaches `time`: what the period has left behind goes. Nothing does while the newest time stays.
    void extendRun(Date time)
    {
        const bool newer = !found_ || time > log_.newest;
        log_.oldest = found_ ? std::min(log_.oldest, time) : time;
        log_.newest = found_ ? std::max(log_.newest, time) : time;
        found_ = true;
        if (!newer)
            return;
        const Date oldestKept{log_.newest.sinceEpoch - keptSeconds_};
        for (std::size_t i = 0; i < predicates_.size(); ++i)
            dropOlderThan(oldestKept, i);
    }

    void accept(const LogEntry& entry, Date time, std::optional<std::size_t> only)
    {
        extendRun(time);
        if (!asksAbout(entry.subsystem))
            return;
        const Date oldestKept{log_.newest.sinceEpoch - keptSeconds_};
        const bool tallied = end_ && time.sinceEpoch >= end_->sinceEpoch - keptSeconds_ && (!only || *only == 0) &&
                             predicates_[0].selects(entry.subsystem, entry.eventMessage);
        for (std::size_t i = 0; i < predicates_.size(); ++i) {
            FileQuery& query = log_.queries[i];
            if (!predicates_[i].asksAbout(entry.subsystem) || (only && *only != i))
                continue;
            query.subsystemSeen = true;
            if (newestOnly_[i]) {
                if (predicates_[i].selects(entry.subsystem, entry.eventMessage))
                    query.newest = std::max(query.newest.value_or(time), time);
                continue;
            }
            if (i == 0 && end_) {
                if (tallied)
                    tally(entry, time);
                else if (passedOver_ && predicates_[0].selects(entry.subsystem, entry.eventMessage))
                    passOver(0, {time, std::string(entry.timestamp), std::string(entry.eventMessage)});
                continue;
            }
            if ((time < oldestKept && !passedOver_) || !predicates_[i].selects(entry.subsystem, entry.eventMessage))
                continue;
            // A repeat of the entry before is counted at once, so that a pipe of one line for ever holds nothing.
            if (!query.entries.empty() && query.entries.back().time == time &&
                query.entries.back().eventMessage == entry.eventMessage) {
                if (!tallied)
                    ++repeatsBefore_[i][{time.sinceEpoch, query.entries.back().eventMessage}];
                continue;
            }
            KeptEntry kept{time, std::string(entry.timestamp), std::string(entry.eventMessage), tallied};
            if (time >= oldestKept) {
                if (!query.entries.empty() && time < query.entries.back().time)
                    unordered_ = true;
                keptBytes_ += keptSize(kept);
                query.entries.push_back(std::move(kept));
            } else {
                passOver(i, kept);
            }
        }
    }

    // Hands an entry of the period to the tally while the entries come in time order, each exact
    // repeat (the same time and message) once.
    void tally(const LogEntry& entry, Date time)
    {
        if (outOfOrder_ || pastEnd_)
            return;
        if (time > *end_) {
            pastEnd_ = true;
        } else if (lastTallied_ && time < *lastTallied_) {
            outOfOrder_ = true;
        } else {
            if (time != lastTallied_) {
                lastTallied_ = time;
                atLastTime_.clear();
            }
            if (atLastTime_.emplace(entry.eventMessage).second) {
                LogEntry timed = entry;
                timed.time = time;
                tally_(timed);
            } else
                ++tallyRepeats_;
        }
    }

    static std::size_t keptSize(const KeptEntry& entry)
    {
        return sizeof entry + entry.timestamp.capacity() + entry.eventMessage.capacity();
    }

    void passOver(std::size_t query, const KeptEntry& entry) const
    {
        if (passedOver_)
            passedOver_(query, entry);
    }

    // Puts entries in time order and keeps one of each exact repeat (the same time and message), so
    // that captures joined in any order, reversed, saved twice or overlapping read as the log they hold.
    // Gives how often each repeated entry was dropped, leaving out those the tally counted.
    std::map<std::pair<double, std::string>, std::uint64_t> settle(std::deque<KeptEntry>& entries)
    {
        const auto byTime = [](const KeptEntry& a, const KeptEntry& b) { return a.time < b.time; };
        if (!std::ranges::is_sorted(entries, byTime)) {
            std::ranges::stable_sort(entries, byTime);
            log_.reordered = true;
        }
        std::vector<bool> repeat(entries.size());
        for (std::size_t start = 0, end = 0; start < entries.size(); start = end) {
            for (end = start + 1; end < entries.size() && entries[end].time == entries[start].time;)
                ++end;
            if (end - start == 1)
                continue;
            std::unordered_set<std::string_view> seen;
            for (std::size_t i = start; i < end; ++i)
                repeat[i] = !seen.insert(entries[i].eventMessage).second;
        }
        std::map<std::pair<double, std::string>, std::uint64_t> dropped;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (repeat[i]) {
                if (!entries[i].tallied)
                    ++dropped[{entries[i].time.sinceEpoch, entries[i].eventMessage}];
                continue;
            }
            if (kept != i)
                entries[kept] = std::move(entries[i]);
            ++kept;
        }
        entries.resize(kept);
        return dropped;
    }

    std::vector<Predicate> predicates_;
    std::vector<std::string> askedSubsystems_; // by any clause of any predicate
    std::vector<bool> newestOnly_;
    // Of each query, how often an entry was dropped as the repeat of the one kept before it.
    std::vector<std::map<std::pair<double, std::string>, std::uint64_t>> repeatsBefore_;
    double keptSeconds_;
    std::size_t heldBytes_;
    std::function<void(std::size_t, const KeptEntry&)> passedOver_;
    std::function<void(const LogEntry&)> tally_;
    std::optional<Date> end_;
    SavedLog log_;
    bool found_ = false;
    std::vector<Aside> aside_;
    // Read while a thread of the reader's adds entries, to stop early.
    std::atomic<std::size_t> keptBytes_ = 0;
    std::atomic<bool> outOfOrder_ = false;
    std::atomic<bool> unordered_ = false;
    bool pastEnd_ = false;
    std::optional<Date> lastTallied_;
    std::unordered_set<std::string> atLastTime_;
    std::uint64_t tallyRepeats_ = 0;
};

SavedLogResult failed(std::string why)
{
    return {std::nullopt, std::move(why)};
}

// A log tool's ndjson output, decoded as it arrives into one query's entries.
class ArchiveOutput final : public OutputSink {
public:
    ArchiveOutput(Collector& collector, std::size_t query)
        : chunk_(kChunkBytes), decoder_([&collector, query](const LogEntry& entry) { collector.add(entry, query); })
    {
    }
    std::span<char> space() override { return chunk_; }
    void commit(std::size_t count) override { decoder_.feed({chunk_.data(), count}); }
    // The tool's own output is whole, unlike a saved file: a last line cut short is a fault.
    std::optional<std::string> finish()
    {
        decoder_.finish();
        if (!decoder_.error() && decoder_.cutOff())
            return "last line is not a whole JSON object";
        return decoder_.error();
    }

private:
    std::vector<char> chunk_;
    NdjsonDecoder decoder_;
};

// A log archive folder, read by the log tool once for each predicate.
SavedLogResult readArchive(const std::string& path, std::span<const std::string_view> predicates,
                           const SavedLogLimits& limits, const RunTool& runTool)
{
    Collector collector(predicates, limits, std::nullopt);
    for (std::size_t query = 0; query < predicates.size(); ++query) {
        ArchiveOutput output(collector, query);
        const std::vector<std::string> arguments{
            "show", "--archive", path, "--predicate", std::string(predicates[query]), "--style", "ndjson", "--info"};
        const ToolResult run = runTool(std::string(kLogToolPath), arguments, &output);
        // Where the log tool cannot read the archive (any machine but a Mac), what to do there helps more than
        // the tool's own complaint, which comes last.
        if (const auto failure = toolFailureText(run, R"("log show --archive")")) {
            const std::string name = quotable(path.substr(path.find_last_of('/', path.size() - 2) + 1));
            return failed("it is a log archive, which only a Mac's log tool reads; on a Mac, open it with --file, or "
                          "save its log with: log show --archive \"" +
                          name + "\" --style json --info > tm.json (" + *failure + ")");
        }
        if (const auto why = output.finish())
            return failed("the log tool's " + *why);
    }
    if (!collector.found())
        return failed("it holds none of the entries asked for");
    SavedLog log = collector.take();
    log.archive = true;
    return {std::move(log), {}};
}

} // namespace

std::vector<LogEntry> SavedLog::inPeriod(std::size_t index, double seconds) const
{
    const Date start{newest.sinceEpoch - seconds};
    std::vector<LogEntry> entries;
    for (const KeptEntry& entry : queries.at(index).entries) {
        if (entry.time >= start)
            entries.push_back({entry.timestamp, entry.eventMessage, {}});
    }
    return entries;
}

std::int64_t SavedLog::hoursSpanned() const
{
    const double hours = std::ceil(secondsBetween(oldest, newest) / 3600);
    return static_cast<std::int64_t>(std::clamp(hours, 1.0, 48.0));
}

std::string SavedLog::readingNote() const
{
    if (archive)
        return R"(a log archive, read by "log show --archive")";
    std::string note =
        style == LogStyle::Console ? "rows copied from Console" : std::string(styleName(style)) + " style";
    if (!zone.empty())
        note += ", times read in " + zone;
    if (linesPassedOver > 0)
        note += ", " + std::to_string(linesPassedOver) + (linesPassedOver == 1 ? " leading line" : " leading lines") +
                " passed over";
    if (trailingLines > 0)
        note += ", " + std::to_string(trailingLines) + (trailingLines == 1 ? " trailing line" : " trailing lines") +
                " passed over";
    if (captures > 1)
        note += ", " + std::to_string(captures) + " captures";
    if (cutOff)
        note += ", cut off after its last whole entry";
    if (unwrappedWidth)
        note += ", lines hard-wrapped at " + std::to_string(*unwrappedWidth) + " columns joined again";
    if (reordered)
        note += ", entries put in time order";
    if (repeats > 0)
        note +=
            ", " + std::to_string(repeats) + (repeats == 1 ? " repeated entry" : " repeated entries") + " counted once";
    if (strays > 0)
        note += ", " + std::to_string(strays) +
                (strays == 1 ? " entry dated more than a day from all others"
                             : " entries dated more than a day from all others") +
                " passed over";
    return note;
}

namespace {

// The last bytes of a regular file as its reader sees them: read from its end, or, when it is
// compressed or packed, from the end of what comes out.
std::optional<std::string> lastBytes(const std::string& path, std::chrono::milliseconds writerWait)
{
    InputFile::Opened opened = InputFile::open(path, writerWait);
    if (!opened.file)
        return std::nullopt;
    const std::unique_ptr<ByteSource> source = decompressed(std::move(opened.file));
    std::vector<char> chunk(kChunkBytes);
    std::size_t count = source->read(chunk);
    std::ifstream raw(path, std::ios::binary);
    std::string head(count, '\0');
    raw.read(head.data(), static_cast<std::streamsize>(count));
    if (raw && head == std::string_view(chunk.data(), count)) {
        // What comes out as it went in is a plain file, whose end can be read directly.
        raw.seekg(0, std::ios::end);
        const auto size = static_cast<std::size_t>(raw.tellg());
        std::string tail(std::min(size, kTailBytes), '\0');
        raw.seekg(static_cast<std::streamoff>(size - tail.size()));
        raw.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        return raw ? std::optional(tail) : std::nullopt;
    }
    std::string tail;
    for (; count > 0; count = source->read(chunk)) {
        tail.append(chunk.data(), count);
        if (tail.size() > 2 * kTailBytes)
            tail.erase(0, tail.size() - kTailBytes);
    }
    return source->failure() ? std::nullopt : std::optional(tail);
}

// Where a regular file's log ends, from its last entries: the newest of those that another is near,
// since one dated a day from the rest strayed. None when no entry is found there.
std::optional<Date> newestNearEnd(const std::string& path, std::chrono::milliseconds writerWait)
{
    const std::optional<std::string> tail = lastBytes(path, writerWait);
    if (!tail)
        return std::nullopt;
    std::vector<Date> times;
    const auto note = [&times](std::string_view timestamp) {
        if (const auto time = parseLogTimestamp(timestamp))
            times.push_back(*time);
    };
    // Text styles read from the first whole line, their entries' times read as they come; JSON's entries are
    // found by their timestamps.
    LogReader reader(
        [&](const LogEntry& entry) {
            if (entry.time)
                times.push_back(*entry.time);
            else
                note(entry.timestamp);
        },
        localUtcOffset, [](std::string_view) { return false; });
    reader.feed(std::string_view(*tail).substr(std::min(tail->size(), tail->find('\n') + 1)));
    reader.finish();
    constexpr std::string_view kKey = "\"timestamp\"";
    for (std::size_t at = tail->find(kKey); at != std::string::npos; at = tail->find(kKey, at + 1)) {
        const std::size_t open = tail->find('"', tail->find_first_not_of(" \t:", at + kKey.size()));
        const std::size_t close = tail->find('"', open + 1);
        if (open != std::string::npos && close != std::string::npos && close - open < 64)
            note(std::string_view(*tail).substr(open + 1, close - open - 1));
    }
    std::ranges::sort(times);
    for (std::size_t i = times.size(); i-- > 0;)
        if (times.size() == 1 || (i > 0 && near(times[i - 1], times[i])))
            return times[i];
    return std::nullopt;
}

struct Reading {
    SavedLogResult result;
    bool abandoned = false; // the entries left time order while they were tallied
};

// Reads the file once into `collector`.
Reading readOnce(const std::string& path, Collector& collector, const SavedLogLimits& limits)
{
    InputFile::Opened opened = InputFile::open(path, limits.writerWait);
    if (!opened.file)
        return {failed(opened.failure)};
    std::error_code error;
    // Standard input cannot be read again, so it is held to the limits of a pipe.
    const bool pipe = path == "-" || !std::filesystem::is_regular_file(path, error);
    const InputFile& file = *opened.file;
    const std::unique_ptr<ByteSource> source = decompressed(std::move(opened.file));
    LogReader reader([&collector](const LogEntry& entry) { collector.add(entry); }, localUtcOffset,
                     [&collector](std::string_view subsystem) { return collector.asksAbout(subsystem); });
    // A file's next piece is read, unpacked and its lines read as entries of the style seen so far, while this
    // one is parsed.
    std::atomic<int> style{-1}; // of the entries read so far, when known
    PreparedLines prepared[2];
    ReadAhead pieces(
        *source, kChunkBytes, file.size().has_value(), [&file] { return file.bytesRead(); },
        [&](std::string_view bytes, std::size_t slot, const std::atomic<bool>& asked) {
            const int seen = style.load();
            prepared[slot].read(bytes, seen < 0 ? std::nullopt : std::optional(LogStyle{seen}), &asked);
        });
    const auto overfull = [&] {
        const std::string most = bytesText(limits.heldBytes);
        if (collector.unordered())
            return failed("its entries are out of time order, and more than " + most +
                          " of them would have to be held to put them in order; save the log again with one run of "
                          "the log tool");
        return failed("more than " + most + " of its entries fall in the period; choose a shorter period");
    };
    std::uint64_t total = 0;
    while (!reader.stopped()) {
        const ReadAhead::Piece piece = pieces.next();
        if (piece.bytes.empty())
            break;
        reader.readAhead(piece.prepared ? &prepared[piece.slot] : nullptr);
        reader.feed(piece.bytes);
        if (const auto seen = reader.style())
            style.store(static_cast<int>(*seen));
        if (limits.bytesRead)
            limits.bytesRead(piece.position, file.size());
        total += piece.bytes.size();
        if (collector.outOfOrder())
            return {{}, true};
        if (pipe && total > limits.pipeBytes)
            return {failed("more than " + bytesText(limits.pipeBytes) +
                           " came through its pipe; save the log to a file to read that much")};
        if (collector.overfull())
            return {overfull()};
    }
    if (source->failure())
        return {failed(*source->failure())};
    if (auto why = reader.finish())
        return {failed(std::move(*why))};
    if (collector.outOfOrder())
        return {{}, true};
    if (collector.overfull())
        return {overfull()};
    if (!collector.found())
        return {failed(reader.noEntries())};
    SavedLog log = collector.take();
    if (collector.outOfOrder())
        return {{}, true};
    log.style = reader.style().value();
    log.linesPassedOver = reader.linesPassedOver();
    log.trailingLines = reader.trailingLinesPassedOver();
    log.captures = reader.captures();
    log.cutOff = reader.cutOff();
    log.unwrappedWidth = reader.unwrappedWidth();
    if (log.style == LogStyle::Compact) {
        const TimeZoneName zone = localTimeZone();
        log.zone = zone.chosen ? zone.name : "this Mac's zone " + zone.name;
    }
    return {{std::move(log), {}}};
}

} // namespace

SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates,
                            const SavedLogLimits& limits, const RunTool& runTool)
{
    if (runTool && InputFile::isDirectory(path))
        return readArchive(path, predicates, limits, runTool);
    // A file can be read again, a pipe cannot. The end its last entries show comes first (without
    // one, a first reading tallies nothing and finds the end); when wrong, the end the whole file
    // showed; when the entries are out of time order, none: they are held and put in order.
    std::error_code error;
    std::optional<Date> end;
    if (limits.tally && path != "-" && std::filesystem::is_regular_file(path, error))
        end = newestNearEnd(path, limits.writerWait).value_or(Date{std::numeric_limits<double>::infinity()});
    for (int pass = 0;; ++pass) {
        if (limits.startTally)
            limits.startTally();
        Collector collector(predicates, limits, end);
        Reading reading = readOnce(path, collector, limits);
        if (!end || (!reading.abandoned && (!reading.result.log || reading.result.log->tallied)))
            return std::move(reading.result);
        end = reading.abandoned || pass > 0 ? std::nullopt : std::optional(reading.result.log->newest);
    }
}

} // namespace quillfen
