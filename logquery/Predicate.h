#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// A query's predicate in the shapes Quillfen sends to the log tool:
// subsystem == "X" [AND eventMessage CONTAINS[c] "Y"]…, or several of those,
// each in parentheses, joined by OR. The simulated Mac evaluates it, and so
// does the reader of saved log files.
struct Predicate {
    struct Clause {
        std::string subsystem;
        std::vector<std::string> messageContains; // every one of them
        bool operator==(const Clause&) const = default;
    };
    std::vector<Clause> anyOf;

    // The subsystem compares exactly; the message containment folds ASCII case.
    [[nodiscard]] bool selects(std::string_view entrySubsystem, std::string_view message) const;
    // Whether entries of the subsystem are what some clause asks about.
    [[nodiscard]] bool asksAbout(std::string_view entrySubsystem) const;
    [[nodiscard]] bool readsMessage() const;
    bool operator==(const Predicate&) const = default;
};

[[nodiscard]] std::optional<Predicate> parsePredicate(std::string_view text);

} // namespace quillfen
