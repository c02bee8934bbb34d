#include "analysis/Analysis.h"

namespace quillfen {

LogDecoder::EntryHandler tallyInto(BackupTally& tally, Release osVersion)
{
    return [&tally, osVersion](const LogEntry& entry) { tallyEntry(tally, entry, osVersion); };
}

std::string assessAndCompose(BackupAnalysis& found, const ReportContext& context)
{
    found.assessment = assessBackups(found.tally, context);
    ComposedReport report = composeBackupReport(found.tally, found.assessment, context);
    found.layout = std::move(report.layout);
    return std::move(report.text);
}

} // namespace quillfen
