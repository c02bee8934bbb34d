#include "checks/Listings.h"

#include "analysis/Analysis.h"
#include "analysis/Formatting.h"
#include "logquery/LogEntry.h"

#include <array>

namespace quillfen {

namespace {

constexpr std::array<std::string_view, 14> kAPFSMarkers{
    "Starting ",  "Found ",     "Backing up ", "Mounted",  "Possible strategies", "Using ",   "Finished ", "Estimated ",
    "Unmounted ", "Completed ", "Backup ",     "Created ", "Creating ",           "Deleted ",
};

template <typename Chooses> std::string listing(const ByteBuffer& output, Date end, std::int64_t hours, Chooses chooses)
{
    std::string text = analysisHeader(end, hours) + "\n";
    const auto log = parseLogEntries(output);
    if (!log)
        return text += kParseErrorLine;
    for (const LogEntry& entry : log->entries()) {
        if (chooses(entry.eventMessage))
            text.append(entry.timestamp).append(" ").append(entry.eventMessage).append("\n");
    }
    return text;
}

} // namespace

bool hasAPFSMarker(std::string_view message)
{
    for (const std::string_view marker : kAPFSMarkers) {
        if (message.find(marker) != std::string_view::npos)
            return true;
    }
    return false;
}

std::string speedListing(const ByteBuffer& output, Date end, std::int64_t hours)
{
    return listing(output, end, hours, [](std::string_view) { return true; });
}

std::string apfsListing(const ByteBuffer& output, Date end, std::int64_t hours)
{
    return listing(output, end, hours, hasAPFSMarker);
}

} // namespace quillfen
