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
              (Predicate{{{"a", {R"(say "hi")"}}}}));
    for (const std::string_view text :
         {"", R"(subsystem = "x")", R"(process == "backupd")", R"(subsystem == "x)",
          R"(subsystem == "x" OR eventMessage CONTAINS[c] "y")", R"(subsystem == "x" AND eventMessage CONTAINS "y")",
          R"(subsystem == "x" AND eventMessage CONTAINS[c] "y" AND)", R"(subsystem == "x"))", "()",
          R"((subsystem == "x")", R"((subsystem == "x") OR)", R"((subsystem == "x") (subsystem == "y"))",
          R"(((subsystem == "x")))", R"((subsystem == "x") AND (subsystem == "y"))",
          R"((subsystem == "x" OR subsystem == "y"))"})
        EXPECT_EQ(parsePredicate(text), std::nullopt) << text;
    const Predicate speed = *parsePredicate(kPredicateSpeed);
    EXPECT_TRUE(speed.selects("com.apple.TimeMachine", "nothing COPIED"));
    EXPECT_FALSE(speed.selects("com.apple.timemachine", "Copied"));
    const Predicate either = *parsePredicate(R"((subsystem == "a") OR (subsystem == "b" AND eventMessage )"
                                             R"p(CONTAINS[c] "x" AND eventMessage CONTAINS[c] "(y)"))p");
    EXPECT_TRUE(either.selects("a", "") && either.selects("b", "(Y) x") && either.asksAbout("b"));
    EXPECT_FALSE(either.selects("b", "x") || either.asksAbout("c"));
}

} // namespace
} // namespace quillfen::macsim
