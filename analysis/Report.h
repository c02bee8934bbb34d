#pragma once

#include "analysis/Assessment.h"
#include "analysis/Tally.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quillfen {

// Where lines stand in a composed report, counted from 0.
struct ReportLayout {
    // The line of each error, in the order of the tally's errors.
    std::vector<std::size_t> errorLines;
    struct CauseLine {
        CauseCode cause;
        std::size_t line;
        bool operator==(const CauseLine&) const = default;
    };
    // The line each cause of the assessment that has a line of its own is written on, in report order.
    std::vector<CauseLine> causeLines;

    // For a report shown below `lines` lines of other text.
    void moveDown(std::size_t lines);
};

struct ComposedReport {
    std::string text;
    ReportLayout layout;
};

// The free-space line of one destination: the marker, a tab, its path, " = " and the free space. A
// destination without a path gives its text, one whose volume cannot say its free space the bare path;
// a saved log's disks are not this machine's, so the path is followed by a note instead.
std::string freeSpaceLine(const Destination& destination, bool savedLog);

// Writes the main report from what the entries left and what they were found to mean; decides nothing.
ComposedReport composeBackupReport(const BackupTally& tally, const CheckAssessment& assessment,
                                   const ReportContext& context);

} // namespace quillfen
