#pragma once

#include "analysis/Assessment.h"
#include "analysis/Tally.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quillfen {

// Where lines stand in a composed report, counted from 0.
struct ReportLayout {
    // The line of each error, in the order of AnalysisValues::errors.
    std::vector<std::size_t> errorLines;
    struct CauseLine {
        GapCause cause;
        std::size_t line;
    };
    // The line each cause of the assessment is written on, in the same order.
    std::vector<CauseLine> causeLines;

    // For a report shown below `lines` lines of other text.
    void moveDown(std::size_t lines);
};

struct ComposedReport {
    std::string text;
    ReportLayout layout;
};

// Writes the main report from what the entries left and what they were found to mean.
ComposedReport composeBackupReport(const BackupTally& tally, const AnalysisValues& values,
                                   const CheckAssessment& assessment, const ReportContext& context);

} // namespace quillfen
