#pragma once

#include "platform/OutputSink.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The outcome of running one external tool.
struct ToolResult {
    // The exit status; for a tool killed by a signal, the signal's number.
    std::int32_t terminationStatus = 0;
    // Why the tool could not be started at all; empty when it ran.
    std::string launchFailure;
};

// Runs the executable at `path` with `args` (no shell: each element is one
// argument), hands its standard output to `output` as it arrives, to the end,
// and waits for it to exit. A null `output` leaves standard output uncaptured;
// standard input and error stay the caller's own.
ToolResult spawnTool(const std::string& path, const std::vector<std::string>& args, OutputSink* output);

// How the rest of the system runs tools; tests substitute their own.
using RunTool =
    std::function<ToolResult(const std::string& path, const std::vector<std::string>& args, OutputSink* output)>;

// A small output kept whole as text (a version number, a list of groups).
class TextOutput final : public OutputSink {
public:
    std::span<char> space() override;
    void commit(std::size_t count) override;
    std::string_view text() const { return {text_.data(), used_}; }

private:
    std::string text_;
    std::size_t used_ = 0;
};

// Hands `bytes` to `output` as a tool's output would arrive; nothing when it is null.
void writeOutput(OutputSink* output, std::string_view bytes);

// Maps the Mac's tool paths ("/usr/bin/log") to the files actually run. On macOS
// the paths are used as they are; elsewhere they are looked up below the
// simulated Mac's root.
class ToolPaths {
public:
    explicit ToolPaths(std::string root) : root_(std::move(root)) {}
    // The build's simulated Mac, or QUILLFEN_TOOL_ROOT when set.
    static ToolPaths fromEnvironment();

    std::string resolve(const std::string& macPath) const { return root_ + macPath; }
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// The production runner: spawnTool on the resolved path.
RunTool makeRunTool(ToolPaths paths);

} // namespace quillfen
