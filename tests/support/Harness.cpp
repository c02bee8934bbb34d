#include "support/Harness.h"

#include "analysis/Formatting.h"

#include <cmath>
#include <cstdio>

namespace quillfen::testing {

std::optional<bool> FakeVolumes::supportsVolumeSizes(const std::string& path) const
{
    if (freeBytes.find(path) == freeBytes.end())
        return std::nullopt;
    return true;
}

std::optional<std::int64_t> FakeVolumes::availableCapacity(const std::string& path) const
{
    const auto found = freeBytes.find(path);
    return found == freeBytes.end() ? std::nullopt : found->second;
}

void ScriptedTools::push(std::int32_t status, std::string output)
{
    push(ToolResult{status, {}}, std::move(output));
}

void ScriptedTools::push(ToolResult result, std::string output)
{
    std::lock_guard lock(mutex_);
    results_.emplace_back(std::move(result), std::move(output));
}

RunTool ScriptedTools::runner()
{
    return [this](const std::string& path, const std::vector<std::string>& args, OutputSink* output) {
        std::lock_guard lock(mutex_);
        calls_.push_back(ToolCall{path, args, output != nullptr});
        auto [result, bytes] = results_.empty() ? std::pair{ToolResult{}, std::string("[]")} : results_.front();
        if (!results_.empty())
            results_.pop_front();
        for (std::string_view rest = bytes; !rest.empty(); rest.remove_prefix(std::min<std::size_t>(rest.size(), 7)))
            writeOutput(output, rest.substr(0, 7));
        return result;
    };
}

std::vector<ToolCall> ScriptedTools::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

Harness::Harness(SystemVersion version, Date now) : clock(now), version(version) {}

ViewController& Harness::controller()
{
    if (!controller_) {
        controller_ = std::make_unique<ViewController>(
            WindowControls{window.periodText, window.periodStep, window.trafficLight, window.outputTextScroll,
                           window.outputText, window.apfsButton, window.progressSpinner, timeline},
            ControllerServices{mainQueue, alerts, defaults, clock, runTool ? runTool : tools.runner(), volumes,
                               version});
        controller_->viewDidLoad();
    }
    return *controller_;
}

void Harness::check()
{
    controller().runCheckButton();
    while (!window.progressSpinner.isHidden())
        mainQueue.runOne();
}

std::string entryJson(std::string_view timestamp, std::string_view message)
{
    std::string json = R"({"timestamp":")";
    json += timestamp;
    json += R"(","eventMessage":")";
    for (const char c : message) {
        if (c == '"' || c == '\\')
            json += '\\';
        if (c == '\n')
            json += "\\n";
        else if (c == '\t')
            json += "\\t";
        else
            json += c;
    }
    return json + "\"}";
}

std::string logJson(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string json = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            json += ",";
        json += entryJson(entries[i].first, entries[i].second);
    }
    return json + "]";
}

std::string timestampAt(Date date)
{
    std::string text = dateDescription(date); // "YYYY-MM-DD hh:mm:ss +0000"
    const auto millis = static_cast<long long>((date.sinceEpoch - std::floor(date.sinceEpoch)) * 1000 + 0.5);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%03lld000", millis % 1000);
    return text.substr(0, 19) + fraction + "+0000";
}

} // namespace quillfen::testing
