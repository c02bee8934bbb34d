#pragma once

#include "analysis/Report.h"
#include "analysis/Tally.h"
#include "platform/ByteBuffer.h"

#include <optional>
#include <span>
#include <string>

namespace quillfen {

inline constexpr std::string_view kParseErrorLine = "Error: couldn't get log entries and parse them.\n";

// The main analysis of one query's output, on a tally that has just been reset.
// Returns the report, or nothing when the output cannot be decoded (the tally
// then stays as reset). What the analysis gathered beside the tally goes to
// `values` when given.
std::optional<std::string> analyseBackupOutput(const ByteBuffer& output, BackupTally& tally,
                                               const ReportContext& context, bool& runDAScheck,
                                               AnalysisValues* values = nullptr);

// The same analysis of entries already decoded (from the tool or a saved log).
std::string analyseBackupEntries(std::span<const LogEntry> entries, BackupTally& tally, const ReportContext& context,
                                 bool& runDAScheck, AnalysisValues* values = nullptr);

} // namespace quillfen
