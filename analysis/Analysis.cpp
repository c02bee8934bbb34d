#include "analysis/Analysis.h"

#include "logquery/LogEntry.h"

namespace quillfen {

std::optional<std::string> analyseBackupOutput(const ByteBuffer& output, BackupTally& tally,
                                               const ReportContext& context, bool& runDAScheck,
                                               AnalysisValues* gathered)
{
    const auto log = parseLogEntries(output);
    if (!log)
        return std::nullopt;
    return analyseBackupEntries(log->entries(), tally, context, runDAScheck, gathered);
}

std::string analyseBackupEntries(std::span<const LogEntry> entries, BackupTally& tally, const ReportContext& context,
                                 bool& runDAScheck, AnalysisValues* gathered)
{
    AnalysisValues values;
    for (const LogEntry& entry : entries)
        tallyEntry(tally, values, entry, context.osVersion);
    std::string report = composeBackupReport(tally, values, context, runDAScheck);
    if (gathered)
        *gathered = std::move(values);
    return report;
}

} // namespace quillfen
