#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quillfen::testing {
namespace {

constexpr std::string_view kParseError = "Error: couldn't get log entries and parse them.\n";

std::string sample(std::string_view name)
{
    return std::string(QUILLFEN_SAMPLES_DIR "/") + std::string(name);
}

Outcome cli(std::vector<std::string> arguments, std::vector<std::string> settings = {})
{
    settings.push_back("QUILLFEN_TOOL_ROOT=" QUILLFEN_SIM_ROOT);
    // Backups someone started by hand on the build's simulated Mac must not show up here.
    if (std::none_of(settings.begin(), settings.end(),
                     [](const std::string& s) { return s.starts_with("QUILLFEN_SIM_STATE="); }))
        settings.push_back("QUILLFEN_SIM_STATE=/dev/null");
    return runProgram(QUILLFEN_CLI, std::move(arguments), settings);
}

TEST(CliCheck, BundledSamplesGiveTheirLights)
{
    struct Case {
        const char* archive;
        int status;
        std::string_view excerpt;
        std::string macOS = "14.5";
    };
    const Case cases[] = {
        {"healthy.json", 0, "\u2705 No error messages found.\n"},
        {"errors.json", 2, "Backups.backupdb/Office MacBook Pro/2026-03-17-181403.inProgress}\n"},
        {"stopped.json", 2,
         "The backup disk was not connected, so scheduled backups were skipped. It was not used in the period.\n"
         "Of 0 volume backups:\n"},
        {"idle.json", 1, "\u2705 No error messages found.\n"},
        {"macos15-healthy.json", 0, "Backup volume: /Volumes/Quillfen Backup\n", "15.6"},
        {"macos26-network.json", 0, "Started 2 auto backup cycles, and 0 manual backups;\ncompleted 2 volume", "26.0"},
        {"macos13-disk-away.json", 2,
         "The backup disk was not connected, so scheduled backups were skipped. It was not used in the period.\n",
         "13.2"},
    };
    for (const Case& c : cases) {
        const Outcome outcome =
            cli({"check"}, {"QUILLFEN_SIM_ARCHIVE=" + sample(c.archive), "QUILLFEN_SIM_MACOS=" + c.macOS});
        EXPECT_EQ(outcome.status, c.status) << c.archive << "\n" << outcome.out << outcome.err;
        EXPECT_TRUE(outcome.out.starts_with("Analysis from ")) << c.archive;
        EXPECT_TRUE(outcome.out.find(" for 2 hours:\n") != std::string::npos) << c.archive;
        EXPECT_NE(outcome.out.find(c.excerpt), std::string::npos) << c.archive << "\n" << outcome.out;
        EXPECT_EQ(outcome.err, "") << c.archive;
    }
}

TEST(CliCheck, HoursAreReadLikeThePeriodField)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string_view period;
    };
    const Case cases[] = {
        {{"check", "--hours", "100"}, " for 48 hours:\n"}, {{"check", "--hours=12abc"}, " for 12 hours:\n"},
        {{"check", "--hours", "-3"}, " for 1 hours:\n"},   {{"check", "--hours", "+ 12"}, " for 1 hours:\n"},
        {{"--hours", "", "check"}, " for 1 hours:\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = cli(c.arguments);
        EXPECT_NE(outcome.out.find(c.period), std::string::npos) << c.arguments.back() << "\n" << outcome.out;
    }
}

TEST(CliCheck, FailedToolsGiveNoVerdictAndTheAlertOnStderr)
{
    struct Case {
        std::vector<std::string> settings;
        std::string_view out;
        std::string err;
    };
    const std::string alert = "An error occurred in your last action: ";
    const Case cases[] = {
        {{"QUILLFEN_SIM_LOG_STATUS=1"}, "", alert + "TM log command returned error number 1\n"},
        {{"QUILLFEN_SIM_LOG_SIGNAL=9"}, "", alert + "TM log command returned error number 9\n"},
        {{"QUILLFEN_SIM_LOG_OUTPUT=empty"}, kParseError, ""},
        {{"QUILLFEN_SIM_LOG_OUTPUT=garbage"}, kParseError, ""},
        {{"QUILLFEN_SIM_ARCHIVE=/nonexistent/archive.json"}, "", alert + "TM log command returned error number 1\n"},
        // Without the system's version nothing is analysed.
        {{"QUILLFEN_SIM_SW_VERS_STATUS=1"}, "", alert + "OS version command returned error number 1\n"},
        {{"QUILLFEN_SIM_MACOS=Version 14"}, "", alert + "OS version command gave no version\n"},
        {{"QUILLFEN_SIM_MACOS=9.2"}, "", alert + "OS version command gave no version\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = cli({"check"}, c.settings);
        EXPECT_EQ(outcome.status, 3) << c.settings[0];
        EXPECT_EQ(outcome.out, c.out) << c.settings[0];
        if (c.settings[0].starts_with("QUILLFEN_SIM_ARCHIVE")) {
            EXPECT_TRUE(outcome.err.ends_with(c.err)) << outcome.err; // the tool's own complaint comes first
        } else {
            EXPECT_EQ(outcome.err, c.err) << c.settings[0];
        }
    }
}

class FakeToolRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = std::filesystem::path(::testing::TempDir()) /
                ("quillfen-cli-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root_ / "usr/bin");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    void tool(const std::string& name, const std::string& body)
    {
        const auto path = root_ / "usr/bin" / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    Outcome check(std::vector<std::string> arguments = {"check"})
    {
        return runProgram(QUILLFEN_CLI, std::move(arguments), {"QUILLFEN_TOOL_ROOT=" + root_.string()});
    }

    std::filesystem::path root_;
};

TEST_F(FakeToolRoot, MissingToolsSaySo)
{
    for (const std::string missing : {"sw_vers", "log"}) {
        const Outcome outcome = check();
        EXPECT_EQ(outcome.status, 3);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err,
                  "An error occurred in your last action: " + std::string(missing == "log" ? "TM log" : "OS version") +
                      " command could not be started: " + root_.string() + "/usr/bin/" + missing +
                      ": No such file or directory\n");
        tool("sw_vers", "echo 14.5");
    }
}

TEST_F(FakeToolRoot, LogToolKilledMidwayIsAFailureNotAReport)
{
    tool("log", "printf '[{\"timestamp\":'; kill -TERM $$");
    tool("sw_vers", "echo 14.5");
    const Outcome outcome = check();
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "An error occurred in your last action: TM log command returned error number 15\n");
}

TEST_F(FakeToolRoot, FleetFormatsAgreeWithTheReportOnAFutureCompletion)
{
    tool("log",
         R"(echo '[{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Backup completed successfully."}]')");
    tool("sw_vers", "echo 14.5");
    EXPECT_NE(check().out.find("no backup has been completed successfully in the period,\n"), std::string::npos);
    const Outcome json = check({"check", "--json"});
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    ASSERT_EQ(parser.parse(json.out).get(root), simdjson::SUCCESS) << json.out;
    EXPECT_TRUE(root["figures"]["backups"]["minutes_since_last_completed"].is_null()) << json.out;
    const Outcome nagios = check({"check", "--nagios"});
    EXPECT_TRUE(nagios.out.find(" - no backup completed, ") != std::string::npos &&
                nagios.out.find("|minutes_since_last_backup=U;") != std::string::npos)
        << nagios.out;
}

TEST(CliCheck, SvgIsWrittenWholeOrNotAtAll)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("cli-svg-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string written = (dir / "out.svg").string();
    const Outcome outcome = cli({"check", "--svg", written}, {"QUILLFEN_SIM_ARCHIVE=" + sample("errors.json")});
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    std::ifstream file(written);
    const std::string svg((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(svg.starts_with("<?xml")) << svg;
    EXPECT_NE(svg.find("<path"), std::string::npos) << "the errors are marked";

    const Outcome failed = cli({"check", "--svg", (dir / "missing" / "out.svg").string()});
    EXPECT_EQ(failed.status, 3);
    EXPECT_TRUE(failed.err.starts_with("quillfen-cli: cannot write '")) << failed.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file is left";
    std::filesystem::remove_all(dir);
}

TEST(CliFleet, JsonCarriesTheVerdictAndTheFigures)
{
    const Outcome healthy = cli({"check", "--json"});
    EXPECT_EQ(healthy.status, 0);
    EXPECT_EQ(healthy.err, "");
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    ASSERT_EQ(parser.parse(healthy.out).get(root), simdjson::SUCCESS) << healthy.out;
    EXPECT_EQ(std::string_view(root["status"]), "green");
    EXPECT_EQ(int64_t(root["assessment"]), 1);
    EXPECT_EQ(int64_t(root["period_hours"]), 2);
    const std::string_view report = root["report"];
    EXPECT_TRUE(report.starts_with("Analysis from ") && report.ends_with("\u2705 No error messages found.\n"));
    const auto backups = root["figures"]["backups"];
    EXPECT_EQ(int64_t(backups["auto_started"]), 2);
    EXPECT_EQ(int64_t(backups["completed"]), 2);
    EXPECT_GT(double(backups["minutes_since_last_completed"]), 0.0);
    EXPECT_LT(double(backups["minutes_since_last_completed"]), 90.0);
    EXPECT_EQ(simdjson::dom::array(backups["durations_minutes"]).size(), 2u);
    EXPECT_GT(int64_t(root["figures"]["destinations"].at(0)["free_bytes"]), 0);
    EXPECT_EQ(int64_t(root["figures"]["errors"]["count"]), 0);
    EXPECT_FALSE(bool(root["scheduler_check"]["ran"]));

    const Outcome stopped = cli({"check", "--json"}, {"QUILLFEN_SIM_ARCHIVE=" + sample("stopped.json")});
    ASSERT_EQ(parser.parse(stopped.out).get(root), simdjson::SUCCESS) << stopped.out;
    EXPECT_EQ(std::string_view(root["status"]), "red");
    EXPECT_TRUE(root["figures"]["backups"]["minutes_since_last_completed"].is_null());
    EXPECT_FALSE(bool(root["scheduler_check"]["ran"])); // skips for want of a disk show the scheduler at work

    const Outcome idle = cli({"check", "--json", "--hours", "48"}, {"QUILLFEN_SIM_ARCHIVE=" + sample("idle.json")});
    ASSERT_EQ(parser.parse(idle.out).get(root), simdjson::SUCCESS) << idle.out;
    EXPECT_EQ(std::string_view(root["status"]), "red");
    EXPECT_TRUE(bool(root["scheduler_check"]["ran"]));
    EXPECT_EQ(int64_t(root["scheduler_check"]["minutes"]), 90);
    EXPECT_TRUE(std::string_view(root["scheduler_check"]["das"]).starts_with("DAS appears to be rescoring normally"));
    EXPECT_TRUE(std::string_view(root["scheduler_check"]["cts"]).starts_with("CTS has been told to run a backup"));

    // Quotes in the log's messages stay inside their JSON strings.
    const Outcome errors = cli({"check", "--json"}, {"QUILLFEN_SIM_ARCHIVE=" + sample("errors.json")});
    ASSERT_EQ(parser.parse(errors.out).get(root), simdjson::SUCCESS) << errors.out;
    EXPECT_EQ(int64_t(root["figures"]["errors"]["count"]), 3);
    EXPECT_NE(std::string_view(root["figures"]["errors"]["lines"].at(0)).find("\"Operation not permitted\""),
              std::string_view::npos);

    // A backup started by hand ten minutes ago completes without an automatic start to pair with.
    const std::string state = ::testing::TempDir() + "quillfen-cli-manual-" + std::to_string(::getpid());
    std::ofstream(state) << ::time(nullptr) - 600 << "\n";
    const Outcome manual = cli({"check", "--json"}, {"QUILLFEN_SIM_STATE=" + state});
    std::filesystem::remove(state);
    ASSERT_EQ(parser.parse(manual.out).get(root), simdjson::SUCCESS) << manual.out;
    EXPECT_EQ(int64_t(root["figures"]["backups"]["manual_started"]), 1);
    EXPECT_EQ(int64_t(root["figures"]["backups"]["completed"]), 3);

    const Outcome failed = cli({"check", "--json"}, {"QUILLFEN_SIM_LOG_STATUS=5"});
    EXPECT_EQ(failed.status, 3);
    EXPECT_EQ(failed.err, "");
    ASSERT_EQ(parser.parse(failed.out).get(root), simdjson::SUCCESS) << failed.out;
    EXPECT_TRUE(root["status"].is_null());
    EXPECT_TRUE(root["figures"].is_null());
    EXPECT_EQ(std::string_view(root["alerts"].at(0)), "TM log command returned error number 5");
}

TEST(CliFleet, NagiosLineFollowsThePluginFormat)
{
    struct Case {
        std::vector<std::string> settings;
        int status;
        std::string_view start;
        std::string_view perfdata;
    };
    const Case cases[] = {
        {{}, 0, "QUILLFEN OK - last backup completed ", ";;90;0 errors=0;;0;0 backups_completed=2;;;0\n"},
        {{"QUILLFEN_SIM_ARCHIVE=" + sample("errors.json")},
         2,
         "QUILLFEN CRITICAL - last backup completed ",
         " errors=3;;0;0 backups_completed=2;;;0\n"},
        {{"QUILLFEN_SIM_ARCHIVE=" + sample("idle.json")},
         1,
         "QUILLFEN WARNING - no backup completed, 0 completed in the last 2 hours, 0 errors|",
         "=U;;90;0 "},
        {{"QUILLFEN_SIM_LOG_OUTPUT=garbage"}, 3, "QUILLFEN UNKNOWN - couldn't get log entries and parse them\n", ""},
    };
    for (const Case& c : cases) {
        const Outcome outcome = cli({"check", "--nagios"}, c.settings);
        EXPECT_EQ(outcome.status, c.status) << outcome.out;
        EXPECT_TRUE(outcome.out.starts_with(c.start)) << outcome.out;
        EXPECT_NE(outcome.out.find(c.perfdata), std::string::npos) << outcome.out;
        EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 1) << outcome.out;
    }
}

TEST(CliListings, SpeedApfsAndBackUpNow)
{
    const Outcome speed = cli({"speed", "--hours", "48"});
    EXPECT_EQ(speed.status, 0);
    EXPECT_NE(speed.out.find(" for 48 hours:\n\n"), std::string::npos);
    EXPECT_NE(speed.out.find(" Copied "), std::string::npos);
    const Outcome apfs = cli({"apfs"});
    EXPECT_EQ(apfs.status, 0);
    EXPECT_NE(apfs.out.find(" Starting automatic backup\n"), std::string::npos);
    EXPECT_EQ(cli({"speed"}, {"QUILLFEN_SIM_LOG_OUTPUT=empty"}).status, 3);

    const Outcome oldMac = cli({"apfs"}, {"QUILLFEN_SIM_MACOS=10.15.7"});
    EXPECT_EQ(oldMac.status, 3);
    EXPECT_EQ(oldMac.out, "");
    EXPECT_EQ(oldMac.err, "quillfen-cli: the APFS listing needs macOS 11 or later\n");
    const Outcome unknownMac = cli({"apfs"}, {"QUILLFEN_SIM_SW_VERS_STATUS=2"});
    EXPECT_EQ(unknownMac.status, 3);
    EXPECT_EQ(unknownMac.err, "quillfen-cli: OS version command returned error number 2\n");

    // Backups started on the simulated Mac are remembered; keep this one away from the other tests.
    const std::string state = ::testing::TempDir() + "quillfen-cli-backups-" + std::to_string(::getpid());
    const Outcome backup = cli({"backup-now"}, {"QUILLFEN_SIM_STATE=" + state});
    std::filesystem::remove(state);
    EXPECT_EQ(backup.status, 0);
    EXPECT_EQ(backup.out + backup.err, "");
    const Outcome refused = cli({"backup-now"}, {"QUILLFEN_SIM_TMUTIL_STATUS=80"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err, "An error occurred in your last action: Back up command returned error number 80\n");
}

TEST(CliFile, ReadsASavedLogAsOfItsNewestEntry)
{
    const std::string healthy = sample("healthy.json");
    const std::string note = "Read from the log file \"healthy.json\": the period ends at its newest entry, and "
                             "\"ago\" counts back from that entry, not from now.\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string_view header;
    };
    const Case cases[] = {
        {{"check", "--file", healthy},
         "Analysis from 2026-03-17 22:12:41 +0000 to 2026-03-18 07:12:41 +0000 for 9 hours:\n"},
        {{"check", "--hours", "2", "--file=" + healthy},
         "Analysis from 2026-03-18 05:12:41 +0000 to 2026-03-18 07:12:41 +0000 for 2 hours:\n"},
        {{"apfs", "--file", healthy},
         "Analysis from 2026-03-17 22:12:41 +0000 to 2026-03-18 07:12:41 +0000 for 9 hours:\n\n"},
    };
    for (const Case& c : cases) {
        // The simulated Mac's own log would read differently: none of it may leak in.
        const Outcome outcome = cli(c.arguments, {"QUILLFEN_SIM_LOG_STATUS=1", "QUILLFEN_SIM_MACOS=10.15"});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_TRUE(outcome.out.starts_with(note + std::string(c.header))) << outcome.out;
    }
    // The text-style sample reads as its JSON twin; only the line naming the file differs.
    const auto afterFirstLine = [](const std::string& text) { return text.substr(text.find('\n')); };
    const Outcome json = cli({"check", "--file", sample("macos13-disk-away.json")});
    const Outcome pasted = cli({"check", "--file", sample("macos13-disk-away.log")});
    EXPECT_EQ(pasted.status, 2);
    EXPECT_TRUE(pasted.out.starts_with("Read from the log file \"macos13-disk-away.log\""));
    EXPECT_EQ(afterFirstLine(pasted.out), afterFirstLine(json.out));

    // In the text style, with the scheduler check on the file's own DAS entries.
    const std::string text = ::testing::TempDir() + "quillfen-cli-text-" + std::to_string(::getpid()) + ".log";
    std::ofstream(text) << "2026-03-18 00:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: "
                           "[com.apple.TimeMachine:General] Backup completed successfully.\n"
                           "2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 2 0 dasd: "
                           "[com.apple.duetactivityscheduler:Scoring] Rescoring all 3 activities\n";
    const Outcome scheduler = cli({"check", "--file", text});
    std::filesystem::remove(text);
    EXPECT_EQ(scheduler.status, 2);
    EXPECT_NE(scheduler.out.find("for 3 hours:\n"), std::string::npos) << scheduler.out;
    EXPECT_TRUE(
        scheduler.out.ends_with("DAS appears to be rescoring normally over the last 90 minutes.\nRunning CTS "
                                "check next.\nThe log file holds no CTS entries, so CTS could not be checked.\n"))
        << scheduler.out;

    const Outcome missing = cli({"check", "--json", "--file", healthy + ".gone"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.out.starts_with(R"({"status":null,"assessment":null,"period_hours":2,"report":"",)"
                                        R"("alerts":["The log file \"healthy.json.gone\" could not be read: No such )"
                                        R"(file or directory."])"))
        << missing.out;
    const Outcome notALog = cli({"speed", "--file", QUILLFEN_SAMPLES_DIR "/README.md"});
    EXPECT_EQ(notALog.status, 3);
    EXPECT_EQ(notALog.out, "");
    EXPECT_TRUE(
        notALog.err.starts_with("An error occurred in your last action: The log file \"README.md\" could not be "
                                "read: line 1 is not a log entry."))
        << notALog.err;
}

TEST(CliUsage, HelpAndMistakes)
{
    const Outcome help = cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: quillfen-cli COMMAND")) << help.out;
    for (const char* command : {"check", "speed", "apfs", "backup-now"}) {
        const Outcome page = cli({command, "--help"});
        EXPECT_EQ(page.status, 0);
        EXPECT_TRUE(page.out.starts_with("NAME\n    quillfen-cli " + std::string(command) + " - ")) << page.out;
        EXPECT_EQ(cli({"help", command}).out, page.out);
    }
    struct Case {
        std::vector<std::string> arguments;
        std::string_view message;
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"chekc"}, "unknown command 'chekc'"},
        {{"check", "--verbose"}, "unknown option '--verbose'"},
        {{"check", "--hours"}, "option '--hours' needs a value"},
        {{"check", "extra"}, "unexpected argument 'extra'"},
        {{"check", "--json", "--nagios"}, "choose one of '--json' and '--nagios'"},
        {{"speed", "--json"}, "'--json' and '--nagios' go with check only"},
        {{"backup-now", "--hours", "3"}, "backup-now takes no period"},
        {{"backup-now", "--file", "log.txt"}, "backup-now reads no log file"},
        {{"apfs", "--file"}, "option '--file' needs a value"},
        {{"check", "--svg"}, "option '--svg' needs a value"},
        {{"speed", "--svg", "out.svg"}, "'--svg' goes with check only"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = cli(c.arguments);
        EXPECT_EQ(outcome.status, 3) << c.message;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err,
                  "quillfen-cli: " + std::string(c.message) + "\nTry 'quillfen-cli --help' for more information.\n");
    }
}

} // namespace
} // namespace quillfen::testing
