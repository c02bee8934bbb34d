#include "logquery/LogFile.h"

#include "logquery/Gzip.h"
#include "logquery/LogReader.h"
#include "logquery/LogTimestamp.h"
#include "logquery/Predicate.h"
#include "platform/TimeZone.h"

#include <algorithm>
#include <cmath>
#include <functional>

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

    void add(const LogEntry& entry)
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
            if (entry.subsystem != predicates_[i].subsystem)
                continue;
            query.subsystemSeen = true;
            if (*time >= oldestKept && predicates_[i].selects(entry.subsystem, entry.eventMessage))
                query.entries.push_back({*time, std::string(entry.timestamp), std::string(entry.eventMessage)});
        }
    }

    bool found() const { return found_; }
    SavedLog take() { return std::move(log_); }

private:
    std::vector<Predicate> predicates_;
    double keptSeconds_;
    SavedLog log_;
    bool found_ = false;
};

SavedLogResult failed(std::string why)
{
    return {std::nullopt, std::move(why)};
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
    std::string note = std::string(styleName(style)) + " style";
    if (!zone.empty())
        note += ", times read in " + zone;
    if (linesPassedOver > 0)
        note += ", " + std::to_string(linesPassedOver) + (linesPassedOver == 1 ? " leading line" : " leading lines") +
                " passed over";
    return note;
}

SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates,
                            const SavedLogLimits& limits)
{
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
    if (log.style == LogStyle::Compact) {
        const TimeZoneName zone = localTimeZone();
        log.zone = zone.chosen ? zone.name : "this Mac's zone " + zone.name;
    }
    return {std::move(log), {}};
}

} // namespace quillfen
