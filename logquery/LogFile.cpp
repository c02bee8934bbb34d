#include "logquery/LogFile.h"

#include "logquery/Gzip.h"
#include "logquery/LogTimestamp.h"
#include "logquery/Predicate.h"
#include "logquery/TextLog.h"

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

// The JSON array that starts with `head` and goes on in `source`, decoded as
// it is read. Entries reach `sink` before the verdict; the caller drops them when it fails.
bool decodeJsonLog(std::string_view head, ByteSource& source, const LogDecoder::EntryHandler& sink)
{
    LogDecoder decoder(sink);
    decoder.feed(head);
    while (!decoder.hasFailed()) {
        const std::span<char> space = decoder.space();
        const std::size_t count = source.read(space);
        if (count == 0)
            break;
        decoder.commit(count);
    }
    const JsonTopLevel shape = decoder.finish();
    return !source.failure() && (shape == JsonTopLevel::EmptyArray || shape == JsonTopLevel::NonEmptyArray);
}

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

SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates,
                            const SavedLogLimits& limits)
{
    InputFile::Opened opened = InputFile::open(path, limits.writerWait);
    if (!opened.file)
        return failed(opened.failure);
    const std::unique_ptr<ByteSource> source = decompressed(std::move(opened.file));
    Collector collector(predicates, limits.keptSeconds);
    const auto sink = [&collector](const LogEntry& entry) { collector.add(entry); };
    TextLogReader reader(sink);
    std::vector<char> chunk(kChunkBytes);
    // Until an entry is seen the input may yet turn out to be JSON, decoded
    // then from where it starts: what was read is kept so far, as nothing can seek back.
    std::string head;
    while (!reader.error() && !reader.jsonOffset()) {
        const std::size_t count = source->read(chunk);
        if (count == 0)
            break;
        if (!reader.sawEntry())
            head.append(chunk.data(), count);
        reader.feed({chunk.data(), count});
        if (reader.sawEntry() && !head.empty())
            std::string().swap(head);
    }
    if (source->failure())
        return failed(*source->failure());
    reader.finish();
    if (const auto offset = reader.jsonOffset()) {
        if (!decodeJsonLog(std::string_view(head).substr(*offset), *source, sink))
            return failed(source->failure().value_or("its JSON is cut off or damaged"));
    } else if (const auto& error = reader.error()) {
        return failed(*error + R"(. Quillfen reads the JSON that "log show --style json" writes, )"
                               R"(and the text that "log show" and "log stream" print)");
    }
    if (!collector.found())
        return failed("it holds no log entries");
    return {collector.take(), {}};
}

} // namespace quillfen
