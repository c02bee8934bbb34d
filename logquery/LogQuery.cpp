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

LogStreamResult streamLogCommand(const RunTool& runTool, const std::vector<std::string>& args,
                                 LogDecoder::EntryHandler onEntry)
{
    LogDecoder decoder(std::move(onEntry));
    LogStreamResult result;
    result.run = runTool(std::string(kLogToolPath), args, &decoder);
    if (result.run.outputUsable())
        result.shape = decoder.finish();
    return result;
}

LogQueryResult runLogCommand(const RunTool& runTool, const std::vector<std::string>& args, const EntryFilter& keep)
{
    EntryCollector collector(keep);
    LogStreamResult streamed = streamLogCommand(runTool, args, collector.handler());
    return {std::move(streamed.run), collector.finish(streamed.shape)};
}

} // namespace quillfen
