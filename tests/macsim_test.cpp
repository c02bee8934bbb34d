#include "logquery/LogQuery.h"
#include "macsim/logshow.h"

#include <gtest/gtest.h>

#include <tuple>

// The simulated Mac is a test double; the end-to-end tests rely on it refusing queries it cannot evaluate.
namespace quillfen::macsim {
namespace {

TEST(MacsimPredicate, ReadsTheProductsQueriesAndRejectsOtherShapes)
{
    for (const std::string_view query :
         {kPredicateTM, kPredicateSpeed, kPredicateDAS, kPredicateCTS, kPredicateCTSDispatch, kPredicateEarlier})
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
    // Near misses in either case before the text, at the very end, or cut short.
    EXPECT_TRUE(speed.selects("com.apple.TimeMachine", "CopiecopieCOPIED") &&
                speed.selects("com.apple.TimeMachine", "cCOPIEcopiEcOpIeD"));
    EXPECT_FALSE(speed.selects("com.apple.TimeMachine", "cCOPIEcopiEcOpIe") ||
                 speed.selects("com.apple.TimeMachine", "Copie"));
    const Predicate either = *parsePredicate(R"((subsystem == "a") OR (subsystem == "b" AND eventMessage )"
                                             R"p(CONTAINS[c] "x" AND eventMessage CONTAINS[c] "(y)"))p");
    EXPECT_TRUE(either.selects("a", "") && either.selects("b", "(Y) x") && either.asksAbout("b"));
    EXPECT_FALSE(either.selects("b", "x") || either.asksAbout("c"));
    // From macOS 13 on, CTS's request or a Default-level line of the backup activity's dispatch.
    const Predicate dispatch = *parsePredicate(kPredicateCTSDispatch);
    const std::string_view das = "com.apple.duetactivityscheduler", xpc = "com.apple.xpc.activity";
    using Row = std::tuple<std::string_view, std::string_view, bool>;
    for (const auto& [subsystem, message, selected] :
         {Row{das, "REQUESTING START: 0:com.apple.backupd-auto:9015F3", true},
          Row{das, "STARTING activity 0:com.apple.backupd-auto:9015F3 <private>!", true},
          Row{xpc, "Initiating XPC Activity: com.apple.backupd-auto (0x7fef5fc14f30)", true},
          Row{xpc, "Initiating: com.apple.backupd-auto (0x7fef5fc14f30)", true},
          Row{xpc, "Running XPC Activity (PID 381): com.apple.backupd-auto (0x7fef5fc14f30)", true},
          Row{xpc, "Running (PID 381): com.apple.backupd-auto", true},
          Row{xpc, "DAS told us to run com.apple.backupd-auto (0x68feda56bb51)", true},
          Row{xpc, "REQUESTING START: 0:com.apple.backupd-auto:9015F3", false},
          Row{das, "REQUESTING START: 501:com.apple.XProtect.PluginService.agent.fast.scan:BB0E3B", false},
          Row{xpc, "Running XPC Activity (PID 9699): com.apple.XProtect.PluginService.agent.fast.scan", false},
          Row{das, "Rescoring all 73 activities [<private>]", false}})
        EXPECT_EQ(dispatch.selects(subsystem, message), selected) << message;
}

} // namespace
} // namespace quillfen::macsim
