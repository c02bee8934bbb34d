#pragma once

#include "analysis/Assessment.h"
#include "analysis/Report.h"
#include "analysis/Tally.h"
#include "logquery/LogDecoder.h"

#include <string>

namespace quillfen {

inline constexpr std::string_view kParseErrorLine = "Error: couldn't get log entries and parse them.\n";

// What the main analysis found in a period's entries, beside the report's text.
struct BackupAnalysis {
    BackupTally tally;
    CheckAssessment assessment;
    ReportLayout layout;
};

// The main analysis takes each decoded entry of the period (from the tool or a
// saved log) as it comes: this handler classifies and tallies it.
LogDecoder::EntryHandler tallyInto(BackupTally& tally, Release osVersion);

// Assesses the tally in `found`, once every entry of the period has been
// tallied in log order, and composes the report, which is returned.
std::string assessAndCompose(BackupAnalysis& found, const ReportContext& context);

} // namespace quillfen
