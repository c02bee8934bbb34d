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
#include <unordered_set>

namespace quillfen {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

// Keeps what each predicate selects and the span of the whole file.
class Collector {
public:
    Collector(std::span<const std::string_view> predicates, double keptSeconds) : keptSeconds_(keptSeconds)
    {
        for (const std::string_view text : predicates)
            predicates_.push_back(parsePredicate(text).value());
        log_.queries.resize(predicates_.size());
    }

    // `only`: the query whose predicate already selected the entry (a log archive's).
    void add(const LogEntry& entry, std::optional<std::size_t> only = std::nullopt)
    {
        const auto time = parseLogTimestamp(entry.timestamp);
        if (!time)
            return;
        log_.oldest = found_ ? std::min(log_.oldest, *time) : *time;
        log_.newest = found_ ? std::max(log_.newest, *time) : *time;
        found_ = true;
        const Date oldestKept{log_.newest.sinceEpoch - keptSeconds_};
        for (std::size_t i = 0; i < predicates_.size(); ++i) {
            FileQuery& query = log_.queries[i];
            while (!query.entries.empty() && query.entries.front().time < oldestKept)
                query.entries.pop_front();
            if (entry.subsystem != predicates_[i].subsystem || (only && *only != i))
                continue;
            query.subsystemSeen = true;
            if (*time >= oldestKept && predicates_[i].selects(entry.subsystem, entry.eventMessage))
                query.entries.push_back({*time, std::string(entry.timestamp), std::string(entry.eventMessage)});
        }
    }

    bool found() const { return found_; }
    SavedLog take()
    {
        for (FileQuery& query : log_.queries)
            settle(query.entries);
        return std::move(log_);
    }

private:
    // Puts entries in time order and keeps one of each exact repeat (the same time and message), so
    // that captures joined in any order, reversed, saved twice or overlapping read as the log they hold.
    void settle(std::deque<KeptEntry>& entries)
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
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (repeat[i])
                continue;
            if (kept != i)
                entries[kept] = std::move(entries[i]);
            ++kept;
        }
        log_.repeats += entries.size() - kept;
        entries.resize(kept);
    }

    std::vector<Predicate> predicates_;
    double keptSeconds_;
    SavedLog log_;
    bool found_ = false;
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
    const std::optional<std::string>& finish()
    {
        decoder_.finish();
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
    Collector collector(predicates, limits.keptSeconds);
    for (std::size_t query = 0; query < predicates.size(); ++query) {
        ArchiveOutput output(collector, query);
        const std::vector<std::string> arguments{
            "show", "--archive", path, "--predicate", std::string(predicates[query]), "--style", "ndjson", "--info"};
        const ToolResult run = runTool(std::string(kLogToolPath), arguments, &output);
        if (const auto failure = toolFailureText(run, R"("log show --archive")"))
            return failed(*failure);
        if (const auto& why = output.finish())
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
    std::string note = std::string(styleName(style)) + " style";
    if (!zone.empty())
        note += ", times read in " + zone;
    if (linesPassedOver > 0)
        note += ", " + std::to_string(linesPassedOver) + (linesPassedOver == 1 ? " leading line" : " leading lines") +
                " passed over";
    if (captures > 1)
        note += ", " + std::to_string(captures) + " captures";
    if (reordered)
        note += ", entries put in time order";
    if (repeats > 0)
        note +=
            ", " + std::to_string(repeats) + (repeats == 1 ? " repeated entry" : " repeated entries") + " counted once";
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
    Collector collector(predicates, limits.keptSeconds);
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
    log.captures = reader.captures();
    if (log.style == LogStyle::Compact) {
        const TimeZoneName zone = localTimeZone();
        log.zone = zone.chosen ? zone.name : "this Mac's zone " + zone.name;
    }
    return {std::move(log), {}};
}

} // namespace quillfen
