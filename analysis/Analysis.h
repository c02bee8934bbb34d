#pragma once

#include "analysis/Report.h"
#include "analysis/Tally.h"
#include "logquery/LogDecoder.h"

#include <span>
#include <string>

namespace quillfen {

inline constexpr std::string_view kParseErrorLine = "Error: couldn't get log entries and parse them.\n";

// The main analysis of decoded entries (from the tool or a saved log), on a
// tally that has just been reset; entries that affectsTally() refuses may be
// left out. What the analysis gathered beside the tally goes to `values` when given.
std::string analyseBackupEntries(std::span<const LogEntry> entries, BackupTally& tally, const ReportContext& context,
                                 bool& runDAScheck, AnalysisValues* values = nullptr);

} // namespace quillfen
