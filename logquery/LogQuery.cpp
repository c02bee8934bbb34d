#include "logquery/LogQuery.h"

namespace quillfen {

std::vector<std::string> baseLogArguments(std::string_view predicate)
{
    return {"show", "--predicate", std::string(predicate), "--style", "json", "--info", "--last"};
}

std::string periodArgument(std::int64_t count, char unit)
{
    return std::to_string(count) + unit;
}

std::vector<std::string> withPeriod(const std::vector<std::string>& base, std::int64_t count, char unit)
{
    std::vector<std::string> args = base;
    args.push_back(periodArgument(count, unit));
    return args;
}

namespace {

// The decoder, telling how many entries it has handed on after each piece of output.
class CountingSink final : public OutputSink {
public:
    CountingSink(LogDecoder& decoder, const std::uint64_t& entries, const EntryCount& received)
        : decoder_(decoder), entries_(entries), received_(received)
    {
    }
    std::span<char> space() override { return decoder_.space(); }
    void commit(std::size_t count) override
    {
        decoder_.commit(count);
        if (received_)
            received_(entries_);
    }
    bool refusesMore() const override { return decoder_.refusesMore(); }

private:
    LogDecoder& decoder_;
    const std::uint64_t& entries_;
    const EntryCount& received_;
};

} // namespace

LogStreamResult streamLogCommand(const RunTool& runTool, const std::vector<std::string>& args,
                                 LogDecoder::EntryHandler onEntry, const EntryCount& received)
{
    LogStreamResult result;
    std::uint64_t entries = 0;
    // Without a handler the decoder only judges the output, and has no entries to count.
    LogDecoder decoder(onEntry ? [&entries, onEntry = std::move(onEntry)](const LogEntry& entry) {
        ++entries;
        onEntry(entry);
    } : LogDecoder::EntryHandler());
    CountingSink sink(decoder, entries, received);
    result.run = runTool(std::string(kLogToolPath), args, &sink);
    if (result.run.outputUsable()) {
        result.shape = decoder.finish();
        // The last batch is decoded only now.
        if (received)
            received(entries);
    }
    return result;
}

LogQueryResult runLogCommand(const RunTool& runTool, const std::vector<std::string>& args, const EntryFilter& keep,
                             const EntryCount& received)
{
    EntryCollector collector(keep);
    LogStreamResult streamed = streamLogCommand(runTool, args, collector.handler(), received);
    return {std::move(streamed.run), collector.finish(streamed.shape)};
}

} // namespace quillfen
