#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// A query's predicate in the shapes Quillfen sends to the log tool:
// subsystem == "X" [AND eventMessage CONTAINS[c] "Y"]. The simulated Mac
// evaluates it, and so does the reader of saved log files.
struct Predicate {
    std::string subsystem;
    std::optional<std::string> messageContains;

    // The subsystem compares exactly; the message containment folds ASCII case.
    [[nodiscard]] bool selects(std::string_view entrySubsystem, std::string_view message) const;
    bool operator==(const Predicate&) const = default;
};

[[nodiscard]] std::optional<Predicate> parsePredicate(std::string_view text);

} // namespace quillfen
