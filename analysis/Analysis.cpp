#include "analysis/Analysis.h"

namespace quillfen {

LogDecoder::EntryHandler tallyInto(BackupAnalysis& found, Release osVersion)
{
    return [&found, osVersion](const LogEntry& entry) { tallyEntry(found.tally, found.values, entry, osVersion); };
}

std::string assessAndCompose(BackupAnalysis& found, const ReportContext& context)
{
    found.assessment = assessBackups(found.tally, found.values, context);
    ComposedReport report = composeBackupReport(found.tally, found.values, found.assessment, context);
    found.layout = std::move(report.layout);
    return std::move(report.text);
}

} // namespace quillfen
