#pragma once

#include "platform/Date.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quillfen {

// How far a run has come: a saved log's bytes as stored (of its size when it is a regular
// file), or the entries the log tool has sent.
struct RunProgress {
    std::uint64_t bytes = 0;
    std::optional<std::uint64_t> size;
    std::uint64_t entries = 0;
};

// Told on the run's own thread, as often as the reading goes on.
using ProgressHandler = std::function<void(const RunProgress&)>;

// A saved log's name as the report and the progress show it: its file name, or the whole path
// when that ends in a separator; bytes that are not UTF-8 become U+FFFD.
std::string logFileName(const std::string& path);

// "Reading capture.json: 312.4 MB of 1.02 GB, 4 s", "Reading the log: 1,234,567 entries, 12 s".
std::string progressText(const std::optional<std::string>& logFile, const RunProgress& progress, double seconds);

// One run's progress as a line worth drawing: none in the first half second, so that quick
// runs show nothing, then at most four a second and only when it reads differently.
// report() from the run's thread, due() from where the line is drawn.
class ProgressLine {
public:
    ProgressLine(std::optional<std::string> logFile, std::shared_ptr<const Clock> clock);

    void report(const RunProgress& progress);
    std::optional<std::string> due();
    // Whether a line has been handed out, which then needs clearing.
    bool shown() const;

private:
    const std::optional<std::string> logFile_;
    const std::shared_ptr<const Clock> clock_;
    const Date start_;
    mutable std::mutex mutex_;
    RunProgress progress_;
    std::optional<Date> drawn_;
    std::string text_;
};

} // namespace quillfen
