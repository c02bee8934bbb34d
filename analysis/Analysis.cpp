#include "analysis/Analysis.h"

namespace quillfen {

std::string analyseBackupEntries(std::span<const LogEntry> entries, const ReportContext& context, BackupAnalysis& found)
{
    found = BackupAnalysis{};
    for (const LogEntry& entry : entries)
        tallyEntry(found.tally, found.values, entry, context.osVersion);
    return assessAndCompose(found, context);
}

std::string assessAndCompose(BackupAnalysis& found, const ReportContext& context)
{
    found.assessment = assessBackups(found.tally, found.values, context);
    ComposedReport report = composeBackupReport(found.tally, found.values, found.assessment, context);
    found.layout = std::move(report.layout);
    return std::move(report.text);
}

} // namespace quillfen
