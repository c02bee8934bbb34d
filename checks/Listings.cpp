#include "checks/Listings.h"

#include "analysis/Analysis.h"
#include "analysis/Formatting.h"

#include <array>

namespace quillfen {

namespace {

constexpr std::array<std::string_view, 14> kAPFSMarkers{
    "Starting ",  "Found ",     "Backing up ", "Mounted",  "Possible strategies", "Using ",   "Finished ", "Estimated ",
    "Unmounted ", "Completed ", "Backup ",     "Created ", "Creating ",           "Deleted ",
};

template <typename Chooses>
std::string listing(std::span<const LogEntry> entries, Date end, std::int64_t hours, Chooses chooses)
{
    std::string text = analysisHeader(end, hours) + "\n";
    for (const LogEntry& entry : entries) {
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

std::string speedListing(std::span<const LogEntry> entries, Date end, std::int64_t hours)
{
    return listing(entries, end, hours, [](std::string_view) { return true; });
}

std::string apfsListing(std::span<const LogEntry> entries, Date end, std::int64_t hours)
{
    return listing(entries, end, hours, hasAPFSMarker);
}

std::string undecodableListing(Date end, std::int64_t hours)
{
    return analysisHeader(end, hours) + "\n" + std::string(kParseErrorLine);
}

} // namespace quillfen
