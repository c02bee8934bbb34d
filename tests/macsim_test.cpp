#include "logquery/LogQuery.h"
#include "macsim/logshow.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <filesystem>

// The simulated Mac is a test double: only what the other tests rely on is checked here.
namespace quillfen::macsim {
namespace {

using namespace std::chrono;

TEST(MacsimPredicate, ReadsTheProductsQueriesAndRejectsOtherShapes)
{
    for (const std::string_view query : {kPredicateTM, kPredicateSpeed, kPredicateDAS, kPredicateCTS})
        EXPECT_TRUE(parsePredicate(query)) << query;
    EXPECT_EQ(parsePredicate(R"(subsystem == "a" AND eventMessage CONTAINS[c] "say \"hi\"")"),
              (Predicate{"a", R"(say "hi")"}));
    for (const std::string_view text :
         {"", R"(subsystem = "x")", R"(process == "backupd")", R"(subsystem == "x)",
          R"(subsystem == "x" OR eventMessage CONTAINS[c] "y")", R"(subsystem == "x" AND eventMessage CONTAINS "y")"})
        EXPECT_EQ(parsePredicate(text), std::nullopt) << text;
    const Predicate speed = *parsePredicate(kPredicateSpeed);
    EXPECT_TRUE(speed.selects("com.apple.TimeMachine", "nothing COPIED"));
    EXPECT_FALSE(speed.selects("com.apple.timemachine", "Copied"));
}

TEST(MacsimShowLog, SelectsByPredicateAndPeriodAfterMovingTheNewestEntry)
{
    const std::string a = R"({"subsystem":"com.apple.TimeMachine","timestamp":"2023-02-17 18:00:00.500000+0100")"
                          R"(,"eventMessage":"Copied 5 items"})";
    const std::string b = R"({"subsystem":"com.apple.xpc.activity","timestamp":"2023-02-17 19:00:00.500000+0100")"
                          R"(,"eventMessage":"x"})";
    const simdjson::padded_string archive("[" + a + "," + b + "]");
    const Instant now = sys_days{2026y / 3 / 18} + 12h;
    const auto show = [&](std::string_view predicate, std::optional<seconds> last) {
        return showLog(archive, {parsePredicate(predicate), last}, minutes{1}, now);
    };
    const std::string movedA = R"({"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-18 11:58:59.500000+0100")"
                               R"(,"eventMessage":"Copied 5 items"})";
    EXPECT_EQ(show(kPredicateSpeed, hours{2}), "[" + movedA + "]\n");
    EXPECT_EQ(show(kPredicateSpeed, minutes{30}), "[]\n");
    EXPECT_THROW((void)showLog(simdjson::padded_string(std::string("[1]")), {}, std::nullopt, now), ArchiveError);
}

TEST(MacsimSamples, HaveReadableTimesAndNameExistingDestinations)
{
    int samples = 0;
    for (const auto& file : std::filesystem::directory_iterator(QUILLFEN_SAMPLES_DIR)) {
        if (file.path().extension() != ".json")
            continue;
        SCOPED_TRACE(file.path().filename().string());
        ++samples;
        simdjson::dom::parser parser;
        for (simdjson::dom::object e : parser.load(file.path().string()).get_array()) {
            EXPECT_TRUE(parseLogTime(std::string_view(e["timestamp"])));
            const std::string_view message = e["eventMessage"];
            if (message.starts_with("Backing up to ")) {
                const std::string destination(message.substr(message.find(": ") + 2));
                EXPECT_TRUE(std::filesystem::is_directory(QUILLFEN_SIM_ROOT + destination)) << destination;
            }
        }
    }
    EXPECT_GE(samples, 4);
}

} // namespace
} // namespace quillfen::macsim
