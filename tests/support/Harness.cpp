#include "support/Harness.h"

#include "analysis/Formatting.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace quillfen::testing {

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

Harness::Harness(SystemVersion version, Date now) : clock(std::make_shared<FixedClock>(now)), version(version) {}

ControllerServices Harness::services()
{
    return ControllerServices{alerts, defaults,
                              CheckServices{mainQueue, clock, runTool ? runTool : tools.runner(), volumes, version},
                              observer};
}

ViewController& Harness::controller()
{
    if (!controller_) {
        controller_ = std::make_unique<ViewController>(controlsOf(window, timeline), services());
        controller_->viewDidLoad();
    }
    return *controller_;
}

void Harness::check()
{
    controller().runCheckButton();
    while (!window.progressSpinner.isHidden()) {
        if (!mainQueue.runOne(kPatience)) {
            ADD_FAILURE() << "the Check did not finish within " << kPatience.count() << " s";
            return;
        }
    }
}

std::string logJson(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string json;
    for (const auto& [timestamp, message] : entries) {
        json += R"(,{"timestamp":")" + timestamp + R"(","eventMessage":")";
        for (const char c : message) {
            if (c == '"' || c == '\\')
                json += '\\';
            json += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t") : std::string(1, c);
        }
        json += "\"}";
    }
    return "[" + json.substr(json.empty() ? 0 : 1) + "]";
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
