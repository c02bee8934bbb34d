#include "logquery/LogFile.h"

#include "logquery/Gzip.h"
#include "logquery/LogQuery.h"
#include "logquery/LogReader.h"
#include "logquery/LogTimestamp.h"
#include "logquery/Predicate.h"
#include "platform/TimeZone.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <unordered_set>

namespace quillfen {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
// An entry dated further than this from every other (a clock wrong for a moment) is no part of the
// log's run of times; so many such entries at most are held aside while the file may still vouch for them.
constexpr double kStraySeconds = 24.0 * 60 * 60;
constexpr std::size_t kMostHeldAside = 16;

// Keeps what each predicate selects and the span of the whole file.
class Collector {
public:
    Collector(std::span<const std::string_view> predicates, const SavedLogLimits& limits)
        : keptSeconds_(limits.keptSeconds), passedOver_(limits.passedOver)
    {
        for (const std::string_view text : predicates)
            predicates_.push_back(parsePredicate(text).value());
        log_.queries.resize(predicates_.size());
    }

    // `only`: the query whose predicate already selected the entry (a log archive's). An entry far
    // from the run of times read so far waits aside until another entry comes near it: the run
    // begins with the first two entries near each other, and what is still aside at the end strayed.
    void add(const LogEntry& entry, std::optional<std::size_t> only = std::nullopt)
    {
        const auto time = parseLogTimestamp(entry.timestamp);
        if (!time)
            return;
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

    bool found() const { return found_ || !aside_.empty(); }
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
        // An entry that two queries select is one entry of the file: its repeats count once.
        std::map<std::pair<double, std::string>, std::uint64_t> repeats;
        for (FileQuery& query : log_.queries)
            for (auto& [key, count] : settle(query.entries))
                repeats[key] = std::max(repeats[key], count);
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

    static bool near(Date a, Date b) { return std::abs(secondsBetween(a, b)) <= kStraySeconds; }

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

    void accept(const LogEntry& entry, Date time, std::optional<std::size_t> only)
    {
        log_.oldest = found_ ? std::min(log_.oldest, time) : time;
        log_.newest = found_ ? std::max(log_.newest, time) : time;
        found_ = true;
        const Date oldestKept{log_.newest.sinceEpoch - keptSeconds_};
        for (std::size_t i = 0; i < predicates_.size(); ++i) {
            FileQuery& query = log_.queries[i];
            while (!query.entries.empty() && query.entries.front().time < oldestKept) {
                passOver(i, query.entries.front());
                query.entries.pop_front();
            }
            if (!predicates_[i].asksAbout(entry.subsystem) || (only && *only != i))
                continue;
            query.subsystemSeen = true;
            if ((time < oldestKept && !passedOver_) || !predicates_[i].selects(entry.subsystem, entry.eventMessage))
                continue;
            KeptEntry kept{time, std::string(entry.timestamp), std::string(entry.eventMessage)};
            if (time >= oldestKept)
                query.entries.push_back(std::move(kept));
            else
                passOver(i, kept);
        }
    }

    void passOver(std::size_t query, const KeptEntry& entry) const
    {
        if (passedOver_)
            passedOver_(query, entry);
    }

    // Puts entries in time order and keeps one of each exact repeat (the same time and message), so
    // that captures joined in any order, reversed, saved twice or overlapping read as the log they hold.
    // Gives how often each repeated entry was dropped.
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
    double keptSeconds_;
    std::function<void(std::size_t, const KeptEntry&)> passedOver_;
    SavedLog log_;
    bool found_ = false;
    std::vector<Aside> aside_;
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
    Collector collector(predicates, limits);
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

SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates,
                            const SavedLogLimits& limits, const RunTool& runTool)
{
    if (runTool && InputFile::isDirectory(path))
        return readArchive(path, predicates, limits, runTool);
    InputFile::Opened opened = InputFile::open(path, limits.writerWait);
    if (!opened.file)
        return failed(opened.failure);
    const std::unique_ptr<ByteSource> source = decompressed(std::move(opened.file));
    Collector collector(predicates, limits);
    LogReader reader([&collector](const LogEntry& entry) { collector.add(entry); }, localUtcOffset);
    std::vector<char> chunk(kChunkBytes);
    while (!reader.stopped()) {
        const std::size_t count = source->read(chunk);
        if (count == 0)
            break;
        reader.feed({chunk.data(), count});
    }
    if (source->failure())
        return failed(*source->failure());
    if (auto why = reader.finish())
        return failed(std::move(*why));
    if (!collector.found())
        return failed(reader.noEntries());
    SavedLog log = collector.take();
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
    return {std::move(log), {}};
}

} // namespace quillfen
