#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// A query's predicate in the shapes Quillfen sends to the log tool:
// subsystem == "X" [AND eventMessage CONTAINS[c] "Y"], or with
// AND (eventMessage CONTAINS[c] "Y1" OR eventMessage CONTAINS[c] "Y2" …).
// The simulated Mac evaluates it, and so does the reader of saved log files.
struct Predicate {
    std::string subsystem;
    std::vector<std::string> messageContains; // any of them; none: every message

    // The subsystem compares exactly; the message containment folds ASCII case.
    [[nodiscard]] bool selects(std::string_view entrySubsystem, std::string_view message) const;
    bool operator==(const Predicate&) const = default;
};

[[nodiscard]] std::optional<Predicate> parsePredicate(std::string_view text);

} // namespace quillfen
