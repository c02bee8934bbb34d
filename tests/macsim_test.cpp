#include "logquery/LogQuery.h"
#include "macsim/logshow.h"

#include <gtest/gtest.h>

// The simulated Mac is a test double; the end-to-end tests rely on it refusing queries it cannot evaluate.
namespace quillfen::macsim {
namespace {

TEST(MacsimPredicate, ReadsTheProductsQueriesAndRejectsOtherShapes)
{
    for (const std::string_view query : {kPredicateTM, kPredicateSpeed, kPredicateDAS, kPredicateCTS})
        EXPECT_TRUE(parsePredicate(query)) << query;
    EXPECT_EQ(parsePredicate(R"(subsystem == "a" AND eventMessage CONTAINS[c] "say \"hi\"")"),
              (Predicate{"a", {R"(say "hi")"}}));
    const Predicate either =
        *parsePredicate(R"(subsystem == "a" AND (eventMessage CONTAINS[c] "x" OR eventMessage CONTAINS[c] "y"))");
    EXPECT_EQ(either, (Predicate{"a", {"x", "y"}}));
    EXPECT_TRUE(either.selects("a", "Y") && either.selects("a", "x") && !either.selects("a", "z"));
    for (const std::string_view text :
         {"", R"(subsystem = "x")", R"(process == "backupd")", R"(subsystem == "x)",
          R"(subsystem == "x" OR eventMessage CONTAINS[c] "y")", R"(subsystem == "x" AND eventMessage CONTAINS "y")",
          R"(subsystem == "x" AND)", R"(subsystem == "x" AND ())",
          R"(subsystem == "x" AND (eventMessage CONTAINS[c] "y")",
          R"(subsystem == "x" AND eventMessage CONTAINS[c] "y" OR eventMessage CONTAINS[c] "z")",
          R"(subsystem == "x" AND (eventMessage CONTAINS[c] "y" AND eventMessage CONTAINS[c] "z"))"})
        EXPECT_EQ(parsePredicate(text), std::nullopt) << text;
    const Predicate speed = *parsePredicate(kPredicateSpeed);
    EXPECT_TRUE(speed.selects("com.apple.TimeMachine", "nothing COPIED"));
    EXPECT_FALSE(speed.selects("com.apple.timemachine", "Copied"));
}

} // namespace
} // namespace quillfen::macsim
