#pragma once

#include "platform/ByteBuffer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillfen {

// The outcome of running one external tool.
struct ToolResult {
    // The exit status; for a tool killed by a signal, the signal's number.
    std::int32_t terminationStatus = 0;
    // Everything the tool wrote to standard output, when it was captured.
    ByteBuffer output;
    // Why the tool could not be started at all; empty when it ran.
    std::string launchFailure;
};

// Runs the executable at `path` with `args` (no shell: each element is one
// argument), reads its standard output to the end when `capture` is set, and
// waits for it to exit. Standard input and error stay the caller's own.
ToolResult spawnTool(const std::string& path, const std::vector<std::string>& args, bool capture);

// How the rest of the system runs tools; tests substitute their own.
using RunTool = std::function<ToolResult(const std::string& path, const std::vector<std::string>& args, bool capture)>;

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
