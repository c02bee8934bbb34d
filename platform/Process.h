#pragma once

#include "platform/OutputSink.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The outcome of running one external tool.
struct ToolResult {
    // The exit status; 0 when the tool did not exit by itself.
    std::int32_t terminationStatus = 0;
    // The signal that killed the tool, when one did and this process did not send it.
    int killedBySignal = 0;
    // Why the tool could not be started at all; empty when it ran.
    std::string launchFailure;
    // Why this process ended the tool before it finished ("did not finish within
    // 600 seconds"); empty when it did not.
    std::string endedEarly;
    // The output's reader wanted no more of it, so the tool was ended: what the
    // reader made of its output is the verdict, not how the tool ended.
    bool outputRefused = false;

    // Whether what the tool printed is its answer to be read.
    bool outputUsable() const
    {
        return launchFailure.empty() && endedEarly.empty() &&
               (outputRefused || (terminationStatus == 0 && killedBySignal == 0));
    }
};

// The alert's text for a failed run of the tool named `command` ("TM log
// command", "Back up command", …), or nothing when its output is to be read.
std::optional<std::string> toolFailureText(const ToolResult& result, std::string_view command);

// How long a tool may run, and how much it may print, before it is ended. The
// defaults lie far beyond what `log show` needs for 48 hours of a busy Mac.
struct ToolLimits {
    std::chrono::milliseconds timeout = std::chrono::minutes(10);
    std::uint64_t outputBytes = std::uint64_t{4} << 30;
};

// "4 GiB", "64 MiB", or a count of bytes.
std::string bytesText(std::uint64_t bytes);

// Runs the executable at `path` with `args` (no shell: each element is one
// argument) in a process group of its own, hands its standard output to
// `output` as it arrives, to the end, and waits for it to exit. A null `output`
// leaves standard output uncaptured; standard input and error stay the
// caller's own. At the deadline, past the output limit, or when `output`
// refuses more, the tool and every process of its group are ended (SIGTERM,
// then SIGKILL). Once the tool has exited, a process it left behind holding
// the pipe is not waited for.
ToolResult spawnTool(const std::string& path, const std::vector<std::string>& args, OutputSink* output,
                     const ToolLimits& limits = {});

// How the rest of the system runs tools; tests substitute their own.
using RunTool =
    std::function<ToolResult(const std::string& path, const std::vector<std::string>& args, OutputSink* output)>;

// A small output kept whole as text (a version number, a list of groups), up
// to `limit` bytes; more is refused.
class TextOutput final : public OutputSink {
public:
    explicit TextOutput(std::size_t limit = std::size_t{64} << 10) : limit_(limit) {}
    std::span<char> space() override;
    void commit(std::size_t count) override;
    bool refusesMore() const override { return used_ > limit_; }
    std::string_view text() const { return {text_.data(), used_}; }

private:
    std::string text_;
    std::size_t used_ = 0;
    std::size_t limit_;
};

// Hands `bytes` to `output` as a tool's output would arrive; nothing when it is null.
void writeOutput(OutputSink* output, std::string_view bytes);

// Maps the Mac's tool paths ("/usr/bin/log") to the files actually run: as they
// are on a Mac, below the root of a simulated Mac elsewhere and in tests.
class ToolPaths {
public:
    explicit ToolPaths(std::string root) : root_(std::move(root)) {}
    // Chosen when linking (quillfen_tools_simulated or quillfen_tools_system): the
    // build's simulated Mac, or QUILLFEN_TOOL_ROOT when set; or the Mac's own tools,
    // which nothing in the environment can replace.
    static ToolPaths configured();

    std::string resolve(const std::string& macPath) const { return root_ + macPath; }
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// The production runner: spawnTool on the resolved path, within `limits`.
RunTool makeRunTool(ToolPaths paths, ToolLimits limits = {});

} // namespace quillfen
