#pragma once

#include "controller/ViewController.h"
#include "platform/headless/HeadlessControls.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillfen::testing {

// The tests' now: 2027-01-15 08:00:00 UTC.
inline constexpr Date kNow{1'800'000'000.0};

inline Date ago(double minutes)
{
    return Date{kNow.sinceEpoch - minutes * 60};
}

class FixedClock final : public Clock {
public:
    explicit FixedClock(Date now) : now_(now) {}
    Date now() const override { return now_; }
    void set(Date now) { now_ = now; }

private:
    Date now_;
};

// Volumes whose answers a test sets by path; unknown paths fail their queries.
class FakeVolumes final : public VolumeQueries {
public:
    std::string fileURLPath(const std::string& path) const override { return path; }
    std::optional<bool> supportsVolumeSizes(const std::string& path) const override
    {
        return freeBytes.contains(path) ? std::optional(true) : std::nullopt;
    }
    std::optional<std::int64_t> availableCapacity(const std::string& path) const override
    {
        return freeBytes.contains(path) ? freeBytes.at(path) : std::nullopt;
    }

    std::map<std::string, std::optional<std::int64_t>> freeBytes;
};

struct ToolCall {
    std::string path;
    std::vector<std::string> args;
    bool capture;
};

// A run that ended by exiting with `status`.
inline ToolResult exitedWith(std::int32_t status)
{
    ToolResult result;
    result.terminationStatus = status;
    return result;
}

// Answers tool runs from a script of results, in order, and records every call.
class ScriptedTools {
public:
    void push(std::int32_t status, std::string output = {}) { push(exitedWith(status), std::move(output)); }
    void push(ToolResult result, std::string output = {});
    // Hands each output over in small pieces, as a pipe may.
    RunTool runner();
    std::vector<ToolCall> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<std::pair<ToolResult, std::string>> results_;
    std::vector<ToolCall> calls_;
};

// One window on headless controls with every service a test controls.
struct Harness {
    explicit Harness(SystemVersion version = OsVersion{14, 5}, Date now = kNow);

    headless::Window window;
    RecordingTimelineView timeline;
    FifoMainQueue mainQueue;
    headless::RecordingAlerts alerts;
    InMemoryDefaults defaults;
    std::shared_ptr<FixedClock> clock;
    std::shared_ptr<FakeVolumes> volumes = std::make_shared<FakeVolumes>();
    ScriptedTools tools;
    SystemVersion version;
    // When set before the controller is built, runs the tools instead of `tools`.
    RunTool runTool;
    CheckObserver* observer = nullptr;

    // What a controller, or the watch, is built with.
    ControllerServices services();

    // Built on first use, so a test can set preferences and scripts beforehand.
    ViewController& controller();
    void closeWindow() { controller_.reset(); }
    // Presses Check and runs the main queue until the busy indicator is hidden.
    void check();

private:
    std::unique_ptr<ViewController> controller_;
};

// A JSON array of log tool entries given as (timestamp, message) pairs, with only the two members that are read.
std::string logJson(const std::vector<std::pair<std::string, std::string>>& entries);
// A log timestamp for `date` in UTC ("2027-01-15 08:00:00.000000+0000").
std::string timestampAt(Date date);

} // namespace quillfen::testing
