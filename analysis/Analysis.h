#pragma once

#include "analysis/Assessment.h"
#include "analysis/Report.h"
#include "analysis/Tally.h"
#include "logquery/LogDecoder.h"

#include <span>
#include <string>

namespace quillfen {

inline constexpr std::string_view kParseErrorLine = "Error: couldn't get log entries and parse them.\n";

// What the main analysis found in a period's entries, beside the report's text.
struct BackupAnalysis {
    BackupTally tally;
    AnalysisValues values;
    CheckAssessment assessment;
    ReportLayout layout;
};

// Assesses the tally and values in `found` (from tallyEntry on every entry of
// the period, in log order) and composes the report, which is returned.
std::string assessAndCompose(BackupAnalysis& found, const ReportContext& context);

// The main analysis of decoded entries (from the tool or a saved log): each is
// classified and tallied, then assessAndCompose. Entries that affectsTally()
// refuses may be left out.
std::string analyseBackupEntries(std::span<const LogEntry> entries, const ReportContext& context,
                                 BackupAnalysis& found);

} // namespace quillfen
