#include "analysis/Analysis.h"

namespace quillfen {

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
