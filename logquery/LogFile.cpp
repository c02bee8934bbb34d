#include "logquery/LogFile.h"

#include "logquery/LogTimestamp.h"
#include "logquery/Predicate.h"
#include "logquery/TextLog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace quillfen {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

class OpenFile {
public:
    explicit OpenFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The next bytes into `buffer`: their count, 0 at the end, or -1 with errno set.
    ssize_t read(char* buffer, std::size_t size) const
    {
        for (;;) {
            const ssize_t count = ::read(fd_, buffer, size);
            if (count >= 0 || errno != EINTR)
                return count;
        }
    }
    bool seek(std::uint64_t offset) const { return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0; }

private:
    int fd_;
};

// Keeps what each predicate selects and the span of the whole file.
class Collector {
public:
    explicit Collector(std::span<const std::string_view> predicates)
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
        for (std::size_t i = 0; i < predicates_.size(); ++i) {
            FileQuery& query = log_.queries[i];
            if (entry.subsystem != predicates_[i].subsystem)
                continue;
            query.subsystemSeen = true;
            if (predicates_[i].selects(entry.subsystem, entry.eventMessage))
                query.entries.push_back({*time, std::string(entry.timestamp), std::string(entry.eventMessage)});
        }
    }

    bool found() const { return found_; }
    SavedLog take() { return std::move(log_); }

private:
    std::vector<Predicate> predicates_;
    SavedLog log_;
    bool found_ = false;
};

// The JSON array from `offset` to the end of the file, decoded as it is read.
// Entries reach `sink` before the verdict; the caller drops them when it fails.
bool decodeJsonLog(const OpenFile& file, std::uint64_t offset, const LogDecoder::EntryHandler& sink)
{
    if (!file.seek(offset))
        return false;
    LogDecoder decoder(sink);
    for (;;) {
        const std::span<char> space = decoder.space();
        const ssize_t count = file.read(space.data(), space.size());
        if (count < 0)
            return false;
        if (count == 0)
            break;
        decoder.commit(static_cast<std::size_t>(count));
    }
    const JsonTopLevel shape = decoder.finish();
    return shape == JsonTopLevel::EmptyArray || shape == JsonTopLevel::NonEmptyArray;
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

SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates)
{
    const OpenFile file(path);
    if (!file.isOpen())
        return failed(std::strerror(errno));
    Collector collector(predicates);
    const auto sink = [&collector](const LogEntry& entry) { collector.add(entry); };
    TextLogReader reader(sink);
    std::vector<char> chunk(kChunkBytes);
    while (!reader.error() && !reader.jsonOffset()) {
        const ssize_t count = file.read(chunk.data(), chunk.size());
        if (count < 0)
            return failed(std::strerror(errno));
        if (count == 0)
            break;
        reader.feed({chunk.data(), static_cast<std::size_t>(count)});
    }
    reader.finish();
    if (const auto offset = reader.jsonOffset()) {
        if (!decodeJsonLog(file, *offset, sink))
            return failed("its JSON is cut off or damaged");
    } else if (const auto& error = reader.error()) {
        return failed(*error + R"(. Quillfen reads the JSON that "log show --style json" writes, )"
                               R"(and the text that "log show" and "log stream" print)");
    }
    if (!collector.found())
        return failed("it holds no log entries");
    return {collector.take(), {}};
}

} // namespace quillfen
