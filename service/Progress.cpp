#include "service/Progress.h"

#include "analysis/Formatting.h"
#include "logquery/TextLog.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>

namespace quillfen {

namespace {

constexpr double kFirstAfterSeconds = 0.5;
constexpr double kRedrawSeconds = 0.25;

// "1,234,567": the thousands grouped as on an English-speaking Mac.
std::string grouped(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

// "4 s", "2 min 5 s", "1 h 2 min".
std::string elapsed(double seconds)
{
    const auto whole = static_cast<std::int64_t>(std::max(seconds, 0.0));
    if (whole < 60)
        return std::to_string(whole) + " s";
    if (whole < 3600)
        return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}

std::string bytesText(std::uint64_t bytes)
{
    return formatByteCountFile(static_cast<std::int64_t>(bytes));
}

} // namespace

std::string logFileName(const std::string& path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    std::string shown;
    appendValidUtf8(shown, name.empty() ? path : name);
    return shown;
}

std::string progressText(const std::optional<std::string>& logFile, const RunProgress& progress, double seconds)
{
    if (!logFile) {
        const std::string entries = grouped(progress.entries) + (progress.entries == 1 ? " entry" : " entries");
        return "Reading the log: " + entries + ", " + elapsed(seconds);
    }
    const std::string name = *logFile == "-" ? "standard input" : logFileName(*logFile);
    // A log archive is read by the log tool, which tells nothing of its bytes.
    if (progress.bytes == 0 && !progress.size)
        return "Reading " + name + ", " + elapsed(seconds);
    const std::string read =
        bytesText(progress.bytes) + (progress.size ? " of " + bytesText(*progress.size) : std::string());
    return "Reading " + name + ": " + read + ", " + elapsed(seconds);
}

ProgressLine::ProgressLine(std::optional<std::string> logFile, std::shared_ptr<const Clock> clock)
    : logFile_(std::move(logFile)), clock_(std::move(clock)), start_(clock_->now())
{
}

void ProgressLine::report(const RunProgress& progress)
{
    const std::lock_guard lock(mutex_);
    progress_ = progress;
}

std::optional<std::string> ProgressLine::due()
{
    const Date now = clock_->now();
    const std::lock_guard lock(mutex_);
    if (secondsBetween(start_, now) < kFirstAfterSeconds || (drawn_ && secondsBetween(*drawn_, now) < kRedrawSeconds))
        return std::nullopt;
    std::string text = progressText(logFile_, progress_, secondsBetween(start_, now));
    if (text == text_)
        return std::nullopt;
    drawn_ = now;
    text_ = text;
    return text;
}

bool ProgressLine::shown() const
{
    const std::lock_guard lock(mutex_);
    return drawn_.has_value();
}

} // namespace quillfen
