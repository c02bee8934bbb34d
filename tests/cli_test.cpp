#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <ostream>
#include <ranges>
#include <set>
#include <span>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace quillfen::testing {
namespace {

const std::string kParseError = "Error: couldn't get log entries and parse them.\n";
const std::string kSamples = QUILLFEN_SAMPLES_DIR "/";

const auto archive = [](const std::string& sample) { return "SIM_ARCHIVE=" + kSamples + sample + ".json"; };
const auto alert = [](const std::string& text) { return "An error occurred in your last action: " + text + "\n"; };

// A path in this process's scratch directory, which goes when the process ends.
std::string scratch(const std::string& name)
{
    static const struct Dir {
        std::filesystem::path path =
            std::filesystem::path(::testing::TempDir()) / ("quillfen-cli-" + std::to_string(::getpid()));
        Dir() { std::filesystem::create_directories(path); }
        ~Dir() { std::filesystem::remove_all(path); }
    } dir;
    return (dir.path / name).string();
}

// A Mac of shell scripts for sw_vers and log, as a setting; a tool without a script is missing.
std::string fakeRoot(const std::string& name, const std::string& swVers, const std::string& log)
{
    const std::filesystem::path bin = std::filesystem::path(scratch(name)) / "usr/bin";
    std::filesystem::create_directories(bin);
    for (const auto& [tool, body] : {std::pair{"sw_vers", swVers}, {"log", log}}) {
        if (body.empty())
            continue;
        std::ofstream(bin / tool) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(bin / tool, std::filesystem::perms::owner_all);
    }
    return "TOOL_ROOT=" + scratch(name);
}

// Runs the CLI. Leading NAME=VALUE words set QUILLFEN_NAME, as a shell's do; the rest are its arguments.
Outcome cli(const std::vector<std::string>& words)
{
    const auto arguments = std::find_if(words.begin(), words.end(), [](const std::string& word) {
        return !std::isupper(static_cast<unsigned char>(word[0])) || word.find('=') == std::string::npos;
    });
    std::vector<std::string> settings;
    for (auto word = words.begin(); word != arguments; ++word)
        settings.push_back("QUILLFEN_" + *word);
    // Else the build's simulated Mac, where backups someone started by hand do not show up. Of two settings
    // of a name, the first is the one read.
    settings.insert(settings.end(), {"QUILLFEN_TOOL_ROOT=" QUILLFEN_SIM_ROOT, "QUILLFEN_SIM_STATE=/dev/null"});
    return runProgram(QUILLFEN_CLI, {arguments, words.end()}, settings);
}

// Whether `text` reads as `pattern`, where each "…" in the pattern stands for any text.
bool matches(std::string_view text, std::string_view pattern)
{
    const std::size_t gap = pattern.find("…");
    if (gap == std::string_view::npos)
        return text == pattern;
    if (!text.starts_with(pattern.substr(0, gap)))
        return false;
    const std::string_view rest = pattern.substr(gap + std::string_view("…").size());
    return std::ranges::any_of(std::views::iota(gap, text.size() + 1),
                               [&](std::size_t i) { return matches(text.substr(i), rest); });
}

struct CliRun {
    std::vector<std::string> words; // as for cli()
    int status;
    std::string out, err = "", written = ""; // patterns for matches(); `written` for the --prometheus file
};

void expectRuns(std::span<const CliRun> runs)
{
    for (const CliRun& run : runs) {
        SCOPED_TRACE(::testing::PrintToString(run.words));
        const Outcome outcome = cli(run.words);
        EXPECT_EQ(outcome.status, run.status);
        EXPECT_TRUE(matches(outcome.out, run.out)) << outcome.out;
        EXPECT_TRUE(matches(outcome.err, run.err)) << outcome.err;
        simdjson::dom::parser parser;
        const bool json = std::ranges::count(run.words, "--json") && !outcome.out.empty();
        EXPECT_TRUE(!json || parser.parse(outcome.out).error() == simdjson::SUCCESS) << "not JSON";
        if (const auto option = std::ranges::find(run.words, "--prometheus"); option != run.words.end()) {
            std::ifstream file(*std::next(option));
            const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            EXPECT_TRUE(matches(text, run.written)) << text;
        }
    }
}

TEST(CliCheck, ExitStatusAndEveryFormatFollowTheLogAndTheTools)
{
    const std::string bare = fakeRoot("bare", "", ""), noLog = fakeRoot("no-log", "echo 14.5", "");
    const std::string killed = fakeRoot("killed", "echo 14.5", "printf '[{\"t\":'; kill -15 $$");
    const std::string stalls = fakeRoot("stalls", "echo 14.5", "echo '['; sleep 60 & sleep 60");
    const std::string endless = fakeRoot("endless", "echo 14.5", "yes");
    // Told to end while the log tool runs (by the tool itself), even a tool deaf to SIGTERM is ended with
    // what it started; each notes its own and its child's process ids.
    const std::string started = scratch("started.pids");
    // (Its standard error let go, so that a process left behind cannot hold the CLI's output open.)
    const std::string notes = "exec 2>/dev/null; echo $$ >> " + started + "; sleep 60 & echo $! >> " + started + "; ";
    const std::string toldToEnd = fakeRoot("told-to-end", "echo 14.5", notes + "kill -TERM $PPID; wait");
    const std::string deaf = fakeRoot("deaf", "echo 14.5", "trap '' TERM; " + notes + "kill -HUP $PPID; wait");
    // A Mac whose log holds one completion, dated after now.
    const std::string future = fakeRoot("future", "echo 14.5",
                                        R"(echo '[{"timestamp":"2099-01-01 00:00:00.000000+0000",)"
                                        R"("eventMessage":"Backup completed successfully."}]')");
    // A backup started by hand ten minutes ago completes without an automatic start to pair with.
    const std::string manual = scratch("manual-state");
    std::ofstream(manual) << ::time(nullptr) - 600 << "\n";
    const std::string nagiosHealthy = "QUILLFEN OK - last backup completed … minutes ago, 2 completed in the last 2 "
                                      "hours, 0 errors|last_backup_age=…s;;5400;0 errors=0;;0;0 "
                                      "backups_completed=2;;;0 skipped_backups=0;;;0 'free /Volumes/Quillfen "
                                      "Backup/Backups.backupdb'=…B;50000000000:;10000000000:;0\n";
    // Names with quotes, backslashes and line feeds: a skip's reason, and a destination whose volume tells its space.
    const std::string hostile = fakeRoot("hostile", "echo 14.5", R"(cat <<'EOF'
[{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Backing up to /dev/disk4s2: /V/a'b=c\"d\\e\nf"},
{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Skipping scheduled Time Machine backup: x\"y\\z\n"},
{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Backup failed: BACKUP_FAILED_NETWORK (26) x|y"},
{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Error: disk\nfull"}]
EOF)");
    std::filesystem::create_directories(scratch("hostile") + "/V/a'b=c\"d\\e\nf");
    const std::string share = "/Volumes/.timemachine/nas._smb._tcp.local./TimeMachine";
    const auto mount = [](std::string_view id) {
        return "/Volumes/.timemachine/nas._smb._tcp.local./" + std::string(id) + "/TimeMachine";
    };
    const std::string first = mount("F0B12B00-C1A5-FB72-6A0D-4EE250C56642"),
                      second = mount("63F26B3D-5D92-9CF2-3041-397457184839");
    const std::string network = fakeRoot("network", "echo 14.5",
                                         R"(cat <<'EOF'
[{"timestamp":"2099-01-01 00:00:00.000000+0000","eventMessage":"Starting automatic backup"},
{"timestamp":"2099-01-01 00:00:01.000000+0000","eventMessage":"Backing up to /dev/disk4s2: )" +
                                             first + R"("},
{"timestamp":"2099-01-01 00:00:02.000000+0000","eventMessage":"Backup completed successfully."},
{"timestamp":"2099-01-01 00:10:00.000000+0000","eventMessage":"Skipping scheduled Time Machine backup: No destinations are potentially available"},
{"timestamp":"2099-01-01 00:20:00.000000+0000","eventMessage":"Starting automatic backup"},
{"timestamp":"2099-01-01 00:20:01.000000+0000","eventMessage":"Backing up to /dev/disk4s2: )" +
                                             second + R"("},
{"timestamp":"2099-01-01 00:20:02.000000+0000","eventMessage":"Backup completed successfully."}]
EOF)");
    for (const std::string& path : {first, second})
        std::filesystem::create_directories(scratch("network") + path);
    // The look further back fails: the log tool refuses the query that looks for destinations.
    const std::string lookBackFails =
        fakeRoot("look-back-fails", "echo 14.5", R"(case "$*" in *"Backing up to"*) exit 3;; esac
echo '[]')");
    // A saved log whose last completion came three days before its last day.
    const std::string backInMarch = scratch("back-in-march.json");
    std::ofstream(backInMarch)
        << R"([{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-14 08:50:00.000000+0000","eventMessage":"Starting automatic backup"},
{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-14 09:00:00.000000+0000","eventMessage":"Backup completed successfully."},
{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-16 10:00:00.000000+0000","eventMessage":"Rotating logs"},
{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-17 09:00:00.000000+0000","eventMessage":"Rotating logs"}])";
    const std::string nothingInMarch = scratch("nothing-in-march.json");
    std::ofstream(nothingInMarch)
        << R"([{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-16 10:00:00.000000+0000","eventMessage":"Rotating logs"},
{"subsystem":"com.apple.TimeMachine","timestamp":"2026-03-17 09:00:00.000000+0000","eventMessage":"Rotating logs"}])";
    std::filesystem::create_symlink(nothingInMarch, scratch("link-to-log"));
    const std::string notUtf8 = scratch("not-\xff.json");
    std::filesystem::copy_file(nothingInMarch, notUtf8);
    const std::string prom = scratch("check.prom"), saved = scratch("check.json");
    std::ofstream(prom) << "stale\n";
    const std::string disk = "…The backup disk was not connected, so scheduled backups were skipped. It was not "
                             "used in the period.\n";
    const CliRun runs[] = {
        // The bundled samples, each on the release it was recorded on.
        {{"check"}, 0, "Analysis from … for 2 hours:\n…\u2705 No error messages found.\n"},
        {{archive("errors"), "check"}, 2, "…Backups.backupdb/Office MacBook Pro/2026-03-17-181403.inProgress}\n"},
        // Skips for want of a disk show the scheduler at work: no scheduler check follows.
        // With none completed in the period, the last one before it, or how far back the log holds none.
        {{archive("stopped"), "check"},
         2,
         disk + "Of 0 volume backups:\n…\u2705 No error messages found.\n"
                "The last backup before the period completed 5.0 hours ago (…).\n"},
        {{archive("idle"), "check"}, 1, "…\u2705 No error messages found.\nThe last backup before the period …\n"},
        {{archive("long-backup"), "check"},
         1,
         "…A backup to /Volumes/8tb has been under way since … (1… minutes), 69% done now.\n"
         "No backup completed before the period either, in the last 30 days of the log.\n"},
        {{lookBackFails, "check"},
         2,
         "…The log before the period could not be searched (the log command returned error number 3), so the last "
         "completed backup is not known.\n…"},
        // What was given is never harmed: an output that is the log being read is refused before the Check.
        {{"check", "--file", backInMarch, "--svg", backInMarch},
         3,
         "",
         "quillfen-cli: '--svg' names the log file being read ('" + backInMarch + "'): nothing was written\n…"},
        {{"check", "--file", nothingInMarch, "--prometheus", scratch("link-to-log")},
         3,
         "",
         "quillfen-cli: '--prometheus' names the log file being read (…): nothing was written\n…",
         R"([{"subsystem"…"eventMessage":"Rotating logs"}])"},
        // A name that is not UTF-8 is shown with U+FFFD, so the JSON stays valid.
        {{"check", "--file", notUtf8, "--json"}, 2, "…Read from the log file \\\"not-\uFFFD.json\\\" …"},
        {{"check", "--file", backInMarch},
         2,
         "…The last backup before the period completed 72.0 hours ago (2026-03-14 09:00:00 +0000).\n…"},
        {{"check", "--file", nothingInMarch},
         2,
         "…completed before the period either: the log begins 23.0 hours before its end (2026-03-16 10:00:00 "
         "+0000).\n…"},
        {{"check", "--file", nothingInMarch, "--hours", "48"},
         2,
         "…messages found.\nThe log holds no entries for the first 25.0 hours of the period: it begins 2026-03-16 "
         "10:00:00 "
         "+0000.\n…"},
        {{archive("stopped"), "check", "--json"},
         2,
         R"({…"period_hours":2,"last_backup_completed_at":"…Z","report":…)"},
        {{archive("stopped"), "check", "--nagios"}, 2, "QUILLFEN CRITICAL - …|last_backup_age=179…s;;5400;0 …"},
        {{archive("stopped"), "check", "--prometheus", prom},
         2,
         "…",
         "",
         "…\nquillfen_last_backup_timestamp_seconds 1…"},
        {{archive("macos15-healthy"), "SIM_MACOS=15.6", "check"}, 0, "…Backup volume: /Volumes/Quillfen Backup\n…"},
        {{archive("macos26-network"), "SIM_MACOS=26.0", "check"}, 0, "…Started 2 auto backup cycles, and 0 …"},
        {{archive("macos13-disk-away"), "SIM_MACOS=13.2", "check"}, 2, disk + "…"},
        // The hours are read like the window's period field.
        {{"check", "--hours", "100"}, 0, "… for 48 hours:\n…"},
        {{"check", "--hours=12abc"}, 0, "… for 12 hours:\n…"},
        {{"check", "--hours", "-3"}, 0, "… for 1 hours:\n…"},
        {{"check", "--hours", "+ 12"}, 0, "… for 1 hours:\n…"},
        {{"--hours", "", "check"}, 0, "… for 1 hours:\n…"},
        // Failed tools give no verdict; their alert goes to standard error.
        {{"SIM_LOG_STATUS=1", "check"}, 3, "", alert("TM log command returned error number 1")},
        {{"SIM_LOG_SIGNAL=9", "check"}, 3, "", alert("TM log command was killed by signal 9")},
        {{"SIM_LOG_OUTPUT=empty", "check"}, 3, kParseError},
        {{"SIM_LOG_OUTPUT=garbage", "check"}, 3, kParseError},
        {{"SIM_ARCHIVE=/gone.json", "check"}, 3, "", "log: …\n" + alert("TM log command returned error number 1")},
        {{"SIM_SW_VERS_STATUS=1", "check"}, 3, "", alert("OS version command returned error number 1")},
        {{"SIM_MACOS=Version 14", "check"}, 3, "", alert("OS version command gave no version")},
        {{"SIM_MACOS=9.2", "check"}, 3, "", alert("OS version command gave no version")},
        {{bare, "check"}, 3, "", alert("OS version command could not be started: …/usr/bin/sw_vers: No such file…")},
        {{noLog, "check"}, 3, "", alert("TM log command could not be started: …/usr/bin/log: No such file…")},
        {{"check", "--svg", "/none/out.svg"}, 3, "Analysis from …", "quillfen-cli: cannot write '/none/out.svg': …\n"},
        // What is no regular file is written in place, never replaced.
        {{archive("errors"), "check", "--nagios", "--svg", "/dev/stdout"}, 2, "<?xml …</svg>\nQUILLFEN CRITICAL …"},
        // Killed midway through its output, the log tool gives a failure, not a report.
        {{killed, "check"}, 3, "", alert("TM log command was killed by signal 15")},
        // A tool that stalls is ended at the deadline, one that prints without end as soon as it is no log.
        // Long enough for a progress line, which standard error gets only when it is a terminal.
        {{stalls, "check", "--timeout", "1"}, 3, "", alert("TM log command did not finish within 1 second")},
        {{stalls, "speed", "--timeout=2"}, 3, "", alert("TM log command did not finish within 2 seconds")},
        {{endless, "check"}, 3, kParseError},
        {{toldToEnd, "check", "--nagios"}, 3, "QUILLFEN UNKNOWN - the Check was ended by SIGTERM before it finished\n"},
        {{deaf, "speed"}, 3, "", alert("quillfen-cli was ended by SIGHUP before it finished")},
        {{fakeRoot("sw-vers-yes", "yes 14.5", ""), "check"},
         3,
         "",
         alert("OS version command printed more than 256 bytes")},
        // A completion dated after now is no completion, in every format.
        {{future, "check"}, 2, "…no backup has been completed successfully in the period,\n…"},
        {{future, "check", "--nagios"}, 2, "QUILLFEN CRITICAL - …no backup completed, …|last_backup_age=U;;5400;0 …"},
        {{future, "check", "--json"}, 2, "…\"minutes_since_last_completed\":null,…"},
        // The monitoring-plugin line.
        {{"check", "--nagios"}, 0, nagiosHealthy},
        // Limits on the last backup's age raise the light's status, never lower it, and stand in the perfdata.
        {{"check", "--nagios", "-w", "1m"},
         1,
         "QUILLFEN WARNING - last backup older than 1m; last backup completed … minutes "
         "ago…|last_backup_age=…s;60;5400;0 …"},
        {{"check", "--nagios", "--warning=1m", "-c", "120s"},
         2,
         "QUILLFEN CRITICAL - last backup older than 120s; …|last_backup_age=…s;60;120;0 …"},
        {{"check", "--nagios", "-w", "12h", "-c", "1d"}, 0, "QUILLFEN OK - …|last_backup_age=…s;43200;86400;0 …"},
        {{archive("stopped"), "check", "--nagios", "-w", "1m"}, 2, "QUILLFEN CRITICAL - backup disk not connected…"},
        {{stalls, "check", "--nagios", "-t", "1"},
         3,
         "QUILLFEN UNKNOWN - TM log command did not finish within 1 second\n"},
        {{hostile, "check", "--nagios"},
         2,
         "QUILLFEN CRITICAL - 1 backup failed, last with BACKUP_FAILED_NETWORK (26); …skipped_backups=1;;;0 "
         "'free /V/a''b_c\"d\\e_f'=…B;…\n"},
        // The inventory line.
        {{archive("stopped"), "check", "--ea", "--hours", "8"},
         2,
         "<result>red: backup disk not connected, last used 5.0 hours ago</result>\n"},
        // The metrics file: replaced whole, also when the Check fails.
        {{"check", "--prometheus", prom},
         0,
         "Analysis from …",
         "",
         "…\nquillfen_build_info{version=\"" QUILLFEN_VERSION "\",macos=\"14.5\"} 1\n…\nquillfen_light 0\n…"},
        {{hostile, "check", "--prometheus", prom},
         2,
         "Analysis from …",
         "",
         "…quillfen_skipped_backups{reason=\"other\"} 1\n…"
         "quillfen_destination_free_bytes{destination=\"/V/a'b=c\\\"d\\\\e\\nf\"} …"},
        // Two mounts of one network share are one destination, without the mount's own folder.
        {{network, "check", "--prometheus", prom},
         1,
         "Analysis from …",
         "",
         "…quillfen_skipped_backups{reason=\"no_destination\"} 1\nquillfen_skipped_backups{reason=\"already_running\"} "
         "0\n…quillfen_destination_free_bytes{destination=\"" +
             share + "\"} …\n# HELP quillfen_scheduler_checked…"},
        {{"SIM_LOG_STATUS=1", "check", "--prometheus", prom},
         3,
         "",
         alert("TM log command returned error number 1"),
         "# HELP quillfen_check_failed …\nquillfen_check_failed 1\n…quillfen_period_seconds 7200\n…"
         "quillfen_build_info{version=\"" QUILLFEN_VERSION "\",macos=\"14.5\"} 1\n"},
        {{"check", "--prometheus", "/none/q.prom"},
         3,
         "Analysis from …",
         "quillfen-cli: cannot write '/none/q.prom': …\n"},
        // The document for fleet tools.
        {{"check", "--json"},
         0,
         R"({"schema_version":1,"status":"green","assessment":1,"period_hours":2,"last_backup_completed_at":"…Z",)"
         R"("report":"Analysis from …No error )"
         R"(messages found.\n","alerts":[],"causes":[],"figures":{"backups":{"auto_started":2,"completed":2,"manual_started":0,)"
         R"("minutes_since_last_completed":…,"durations_minutes":[6.4,4.8],…,"errors":{"count":0,"lines":[]}},)"
         R"("scheduler_check":{"ran":false,"minutes":null,"das":null,"cts":null},"summary":"green",)"
         R"("checked_at":"…Z","period_end":"…Z","host":"…","version":"…","macos":"14.5"})"
         "\n"},
        {{archive("idle"), "check", "--json", "--hours", "48"},
         2,
         R"(…"scheduler_check":{"ran":true,"minutes":90,"das":"DAS appears …","cts":"CTS has been told …"},"summary":"red: …)"},
        // Quotes in the log's messages stay inside their JSON strings.
        {{archive("errors"), "check", "--json"}, 2, R"(…"count":3,"lines":["… Code=1 \"Operation not permitted\" …)"},
        {{"SIM_STATE=" + manual, "check", "--json"}, 0, R"(…{"auto_started":2,"completed":3,"manual_started":1,…)"},
        // No verdict: no figures, and the alert in the document rather than on standard error.
        {{"SIM_LOG_STATUS=5", "check", "--json"},
         3,
         R"({…"status":null,…"alerts":["TM log …"],"causes":null,"figures":null,…)"},
        {{archive("stopped"), "check", "--json"},
         2,
         R"(…"causes":[{"code":"disk_not_connected","skipped":2,"minutes_since_last_backup":null},)"
         R"({"code":"no_destination"},{"code":"no_completed_backup"},{"code":"no_auto_backups"}],…"skipped":[)"
         R"({"reason":"No destinations are potentially available","count":2,…)"},
        // An error message's own line feed stays inside its one line.
        {{hostile, "check", "--json"},
         2,
         R"(…"causes":[{"code":"backups_failed","failures":1,"result":"BACKUP_FAILED_NETWORK","result_code":26},)"
         R"(…{"code":"error_lines","lines":2},…"errors":{"count":2,"lines":["2099-01-01 00:00:00.000000+0000 )"
         R"(Backup failed: BACKUP_FAILED_NETWORK (26) x|y","2099-01-01 00:00:00.000000+0000 Error: disk\nfull"]}},…)"},
        {{"check", "--json", "--file", kSamples + "gone.json"},
         3,
         R"({"schema_version":1,"status":null,"assessment":null,"period_hours":2,"last_backup_completed_at":null,"report":"","alerts":["The log file )"
         R"(\"gone.json\" could not be read: No such file or directory."],"causes":null,"figures":null,…"summary":"no )"
         R"(verdict: The log file \"gone.json\" could not be read: No such file or directory.","checked_at":"…Z",)"
         R"("period_end":null,"host":"…","version":")" QUILLFEN_VERSION R"(","macos":"14.5"}
)"},
        // A Check kept for the inventory, which then answers at once, saying how old its answer is.
        {{"check", "--save-result", saved}, 0, "Analysis from …"},
        {{"check", "--ea", "--from", saved}, 0, "<result>green (checked … minutes ago)</result>\n"},
        {{archive("stopped"), "check", "--save-result", saved, "--ea"}, 2, "<result>red: backup disk not connected…"},
        {{"check", "--ea", "--from", saved},
         2,
         "<result>red: backup disk not connected, … (checked … minutes ago)</result>\n"},
        {{"check", "--ea", "--from", kSamples + "gone.json"},
         3,
         "<result>no verdict: the saved Check \"gone.json\" could not be read: No such file or directory</result>\n"},
        {{"check", "--ea", "--from", kSamples + "healthy.json"},
         3,
         "<result>no verdict: the saved Check \"healthy.json\" does not read as one (save it with check "
         "--save-result)</result>\n"},
    };
    expectRuns(runs);
    // No process that a tool told to end started is left running: gone, or a zombie of another parent.
    std::ifstream pidsFile(started);
    std::vector<std::string> pids{std::istream_iterator<std::string>(pidsFile), std::istream_iterator<std::string>()};
    EXPECT_EQ(pids.size(), 4u);
    for (const std::string& pid : pids) {
        const auto running = [&pid] {
            std::ifstream stat("/proc/" + pid + "/stat");
            std::string id, name, state;
            return stat >> id >> name >> state && state != "Z";
        };
        for (int wait = 0; running() && wait < 300; ++wait)
            ::usleep(10'000);
        EXPECT_FALSE(running()) << pid;
    }
    // What the patterns leave open: the healthy sample's last backup some minutes ago, and its disk's free space.
    simdjson::dom::parser parser;
    const simdjson::dom::element figures = parser.parse(cli({"check", "--json"}).out)["figures"];
    const double minutes = figures["backups"]["minutes_since_last_completed"];
    EXPECT_TRUE(minutes > 0 && minutes < 90) << minutes;
    EXPECT_GT(std::int64_t(figures["destinations"].at(0)["free_bytes"]), 0);
}

// What one run tells in every format: the exit status, the light, and the causes, the most telling first.
struct Told {
    int status;
    std::string light;  // green, orange, red, or "none"
    std::string causes; // their codes, blank-separated
    bool operator==(const Told&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Told& told)
{
    return out << told.status << " " << told.light << " [" << told.causes << "]";
}

// Runs the CLI once per format and reads each back; fails where two formats tell different outcomes.
Told toldByEveryFormat(std::vector<std::string> words)
{
    const std::string prom = scratch("agree.prom");
    std::filesystem::remove(prom);
    std::vector<std::string> text = words;
    text.insert(text.end(), {"--prometheus", prom});
    const auto with = [&](const char* format) {
        std::vector<std::string> run = words;
        run.push_back(format);
        return cli(run);
    };
    const Outcome plain = cli(text), json = with("--json"), nagios = with("--nagios"), ea = with("--ea");
    EXPECT_EQ(std::set({plain.status, json.status, nagios.status, ea.status}).size(), 1u) << "exit statuses";

    simdjson::dom::parser parser;
    const simdjson::dom::element document = parser.parse(json.out);
    Told told{json.status, "none", ""};
    if (auto status = document["status"].get_string(); !status.error())
        told.light = std::string(status.value());
    std::vector<std::string> codes;
    if (auto causes = document["causes"].get_array(); !causes.error())
        for (const simdjson::dom::element cause : causes.value())
            codes.emplace_back(std::string_view(cause["code"]));
    for (const std::string& code : codes)
        told.causes += (told.causes.empty() ? "" : " ") + code;

    const std::map<std::string, std::tuple<int, std::string, std::string>> lights{
        {"green", {0, "OK", "0"}}, {"orange", {1, "WARNING", "1"}}, {"red", {2, "CRITICAL", "2"}}};
    const auto [status, state, level] =
        told.light == "none" ? std::tuple(3, std::string("UNKNOWN"), std::string()) : lights.at(told.light);
    EXPECT_EQ(json.status, status);
    EXPECT_TRUE(nagios.out.starts_with("QUILLFEN " + state + " - ")) << nagios.out;
    const std::string eaWord = told.light == "none" ? "no verdict" : told.light;
    EXPECT_TRUE(ea.out.starts_with("<result>" + eaWord)) << ea.out;
    // A light other than green has a cause, and the one-line formats name the first alike.
    EXPECT_EQ(codes.empty(), told.light == "green" || told.light == "none") << told;
    if (!codes.empty()) {
        const std::string eaCause =
            ea.out.substr(ea.out.find(": ") + 2, ea.out.find("</result>") - ea.out.find(": ") - 2);
        EXPECT_TRUE(nagios.out.starts_with("QUILLFEN " + state + " - " + eaCause + "; ")) << nagios.out << ea.out;
    }
    std::ifstream file(prom);
    std::string metrics((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(metrics.find(told.light == "none" ? "quillfen_check_failed 1\n" : "quillfen_light " + level + "\n"),
              std::string::npos)
        << metrics;
    for (const std::string_view code :
         {"disk_not_connected", "backups_failed", "scheduler_stopped", "no_destination", "backup_overdue",
          "error_lines", "no_completed_backup", "no_auto_backups", "backup_under_way", "deep_traversal"}) {
        const bool named = std::ranges::count(codes, code) != 0;
        EXPECT_EQ(metrics.find("quillfen_cause{cause=\"" + std::string(code) + "\"} 1\n") != std::string::npos, named)
            << code;
    }
    return told;
}

TEST(CliCheck, EveryOutputTellsTheSameOutcome)
{
    // A laptop asleep for 2.5 hours that then backed up as usual: the long interval asks for the scheduler
    // check, which finds DAS and CTS quiet, but the light stays green and so names no cause.
    const std::string slept =
        fakeRoot("slept", "echo 14.5", R"sh(case "$*" in *TimeMachine*) ;; *) echo '[]'; exit 0;; esac
at() { date -u -d "@$(( $(date +%s) - $1 * 60 ))" '+%Y-%m-%d %H:%M:%S.000000+0000'; }
printf '[{"timestamp":"%s","eventMessage":"Starting automatic backup"},' "$(at 175)"
printf '{"timestamp":"%s","eventMessage":"Backing up to /dev/disk4s2: /Volumes/TM"},' "$(at 174)"
printf '{"timestamp":"%s","eventMessage":"Backup completed successfully."},' "$(at 170)"
printf '{"timestamp":"%s","eventMessage":"Starting automatic backup"},' "$(at 25)"
printf '{"timestamp":"%s","eventMessage":"Backup completed successfully."}]' "$(at 20)")sh");
    // A backup two hours ago, and DAS at work: a CTS that answers nothing stops scheduling only before macOS 13.
    const std::string overdue = fakeRoot("overdue", R"(echo "${QUILLFEN_SIM_MACOS:-14.5}")", R"sh(case "$*" in
*TimeMachine*) ;; *Rescoring*) echo '[{}]'; exit 0;; *) echo '[]'; exit 0;; esac
at() { date -u -d "@$(( $(date +%s) - $1 * 60 ))" '+%Y-%m-%d %H:%M:%S.000000+0000'; }
printf '[{"timestamp":"%s","eventMessage":"Backing up to /dev/disk4s2: /Volumes/TM"},' "$(at 125)"
printf '{"timestamp":"%s","eventMessage":"Backup completed successfully."}]' "$(at 120)")sh");
    const std::string file = "--file=" + kSamples;
    const std::pair<std::vector<std::string>, Told> cases[] = {
        {{"check"}, {0, "green", ""}},
        {{slept, "check", "--hours", "4"}, {0, "green", ""}},
        // Red for error lines alone names them.
        {{archive("errors"), "check"}, {2, "red", "error_lines"}},
        {{archive("stopped"), "check"},
         {2, "red", "disk_not_connected no_destination no_completed_backup no_auto_backups"}},
        {{archive("idle"), "check"}, {1, "orange", "backup_under_way no_completed_backup"}},
        {{archive("idle"), "check", "--hours", "48"}, {2, "red", "scheduler_stopped backup_overdue backup_under_way"}},
        {{archive("gap"), "check", "--hours", "6"}, {2, "red", "error_lines"}},
        {{overdue, "check"}, {2, "red", "backup_overdue no_auto_backups"}},
        {{overdue, "SIM_MACOS=12.7", "check"}, {2, "red", "scheduler_stopped backup_overdue no_auto_backups"}},
        {{archive("macos26-network"), "SIM_MACOS=26.0", "check"}, {0, "green", ""}},
        {{"check", file + "macos13-disk-away.json"}, {2, "red", "disk_not_connected backup_overdue no_auto_backups"}},
        {{"check", file + "idle.json", "--hours", "2"}, {1, "orange", "backup_under_way no_completed_backup"}},
        // A Check in the middle of a long first backup: under way, to a known disk, and no scheduler alarm.
        {{archive("long-backup"), "check"}, {1, "orange", "backup_under_way no_completed_backup no_auto_backups"}},
        {{"check", file + "long-backup.json", "--hours", "2"},
         {1, "orange", "backup_under_way no_completed_backup no_auto_backups"}},
        // No verdict, in every format, also when only a file could not be written.
        {{"SIM_LOG_STATUS=1", "check"}, {3, "none", ""}},
        {{"SIM_LOG_OUTPUT=garbage", "check"}, {3, "none", ""}},
        {{"check", "--svg", "/none/out.svg"}, {3, "none", ""}},
        {{"check", file + "gone.json"}, {3, "none", ""}},
    };
    for (const auto& [words, told] : cases) {
        SCOPED_TRACE(::testing::PrintToString(words));
        EXPECT_EQ(toldByEveryFormat(words), told);
    }
}

// Built for a Mac, the CLI runs the Mac's own tools whatever root the environment names.
TEST(CliCheck, BuiltForAMacItRunsOnlyTheMacsOwnTools)
{
    if (std::filesystem::exists("/usr/bin/sw_vers"))
        GTEST_SKIP() << "this system's own tools would run";
    const Outcome outcome = runProgram(QUILLFEN_MAC_CLI, {"check"}, {"QUILLFEN_TOOL_ROOT=" QUILLFEN_SIM_ROOT});
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err,
              alert("OS version command could not be started: /usr/bin/sw_vers: No such file or directory"));
}

TEST(CliCheck, SvgIsWrittenWhole)
{
    const std::string dir = scratch("svg");
    std::filesystem::create_directories(dir);
    // The longest name a folder takes leaves no room for a longer temporary one.
    const std::string name = dir + "/" + std::string(251, 'n') + ".svg";
    EXPECT_EQ(cli({archive("errors"), "check", "--svg", name}).status, 2);
    std::ifstream file(name);
    const std::string svg((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(svg.starts_with("<?xml") && svg.find("<path") != std::string::npos) << "the errors are marked";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file is left";
    // The metrics are for node_exporter, another user: readable by all whatever the umask; the picture follows it.
    const mode_t mask = ::umask(077);
    EXPECT_EQ(cli({"check", "--prometheus", dir + "/q.prom", "--svg", dir + "/t.svg"}).status, 0);
    ::umask(mask);
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(dir + "/q.prom").permissions(), perms(0644));
    EXPECT_EQ(std::filesystem::status(dir + "/t.svg").permissions(), perms(0600));
}

TEST(CliListings, SpeedApfsBackUpNowAndSavedLogs)
{
    const std::string healthy = kSamples + "healthy.json";
    const std::string note = "Read from the log file \"healthy.json\" (json style): the period ends at its newest "
                             "entry, and \"ago\" counts back from that entry, not from now. Release-dependent lines "
                             "follow this Mac's macOS …\n";
    const std::string nineHours = "Analysis from 2026-03-17 22:12:41 +0000 to 2026-03-18 07:12:41 +0000 for 9 hours:\n";
    // A log archive folder without a log.
    const std::string empty = scratch("empty.logarchive");
    std::filesystem::create_directories(empty);
    const std::string text = scratch("text.log");
    std::ofstream(text) << "2026-03-18 00:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: "
                           "[com.apple.TimeMachine:General] Backup completed successfully.\n"
                           "2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 2 0 dasd: "
                           "[com.apple.duetactivityscheduler:Scoring] Rescoring all 3 activities\n";
    const std::string dispatched = scratch("dispatched.log");
    std::ofstream(dispatched) << "2026-03-18 00:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: "
                                 "[com.apple.TimeMachine:General] Backup completed successfully.\n"
                                 "2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 3 0 UserEventAgent: (com.apple.cts) "
                                 "[com.apple.xpc.activity:Activities] Initiating XPC Activity: "
                                 "com.apple.backupd-auto (0x7fef5fc14f30)\n";
    // Messages that would clear the screen, retitle the window and write the clipboard.
    const std::string escapes = fakeRoot("escapes", "echo 14.5", R"(cat <<'EOF'
[{"timestamp" : "2026-03-18 07:00:00.000000+0000",
  "eventMessage" : "Copied \u001b]52;c;aGk=\u0007\u001b[2J\r\u007f\u009b31m\ttab \u2705"}]
EOF)");
    // A message that ends as an undecodable output's listing does.
    const std::string sentence = scratch("sentence.json");
    std::ofstream(sentence)
        << R"([{"timestamp":"2026-03-18 07:00:00.000000+0000","subsystem":"com.apple.TimeMachine",)"
           R"("eventMessage":"Copied 1 items (1 KB) from x:\n\nError: couldn't get log entries and )"
           R"(parse them."}])";
    const CliRun runs[] = {
        {{escapes, "speed"},
         0,
         R"(…Copied \u001b]52;c;aGk=\u0007\u001b[2J\u000d\u007f\u009b31m)"
         "\ttab \u2705\n"},
        {{"speed", "--hours", "48"}, 0, "Analysis from … for 48 hours:\n\n… Copied …"},
        {{"apfs"}, 0, "… Starting automatic backup\n…"},
        {{"SIM_LOG_OUTPUT=empty", "speed"}, 3, "Analysis from …:\n\n" + kParseError},
        {{"SIM_MACOS=10.15.7", "apfs"}, 3, "", "quillfen-cli: the APFS listing needs macOS 11 or later\n"},
        {{"SIM_SW_VERS_STATUS=2", "apfs"}, 3, "", "quillfen-cli: OS version command returned error number 2\n"},
        {{"backup-now"}, 0, ""},
        {{"SIM_TMUTIL_STATUS=80", "backup-now"}, 3, "", alert("Back up command returned error number 80")},
        // A saved log is read as of its newest entry, over its whole span unless the hours are given. The
        // simulated Mac's own log would read differently: none of it may leak in.
        {{"SIM_LOG_STATUS=1", "SIM_MACOS=10.15", "check", "--file", healthy},
         0,
         note + nineHours + "…\n/Volumes/Quillfen Backup/Backups.backupdb: free space not measured for a saved log\n…"},
        {{"check", "--json", "--file", healthy},
         0,
         R"(…"path":"/Volumes/Quillfen Backup/Backups.backupdb","free_bytes":null}…)"},
        {{"SIM_LOG_STATUS=1", "SIM_MACOS=10.15", "apfs", "--file", healthy}, 0, note + nineHours + "\n…"},
        {{"check", "--hours", "2", "--file=" + healthy}, 0, note + "Analysis from 2026-03-18 05:12:41 +0000 to …"},
        // In the text style, with the scheduler check on the file's own DAS entries.
        {{"check", "--file", text, "--macos", "12.7"},
         2,
         "…for 3 hours:\n…DAS appears to be rescoring normally over the last 90 minutes.\nRunning CTS check next.\n"
         "The log file holds no CTS entries, so CTS could not be checked.\n"},
        // From macOS 13 on, DAS's subsystem may hold CTS's dispatch too; CTS's own line is kept too briefly to miss.
        {{"check", "--file", text},
         2,
         "…Running CTS check next.\nWhether CTS was told to run a backup in the last 90 minutes could not be judged "
         "from the log: this macOS release keeps that message only briefly.\n"},
        {{"check", "--file", dispatched},
         2,
         "…The log file holds no DAS entries, so DAS could not be checked.\nCTS has been told to run a backup in the "
         "last 90 minutes but failed to do so.\nConsider restarting your Mac.\n"},
        {{"speed", "--file", kSamples + "README.md"}, 3, "", alert("The log file \"README.md\" could not be read: …")},
        // A listing's status is its own, whatever its last lines say.
        {{"speed", "--file", sentence}, 0, "…Copied 1 items (1 KB) from x:\n\n" + kParseError},
        // The release the file came from, not this Mac's, decides the release-dependent lines.
        {{"check", "--file", kSamples + "macos13-disk-away.json", "--macos", "10.12"},
         2,
         "Read from … Release-dependent lines follow macOS 10.12 (--macos).\n…1151.0 minutes ago,\nCreated 0 new "
         "backups, and deleted 0 old backups,\ncancelled 18 backups.\n…\u2705 No error messages found.\n"},
        {{"check", "--file", empty},
         3,
         "",
         "log: cannot read the archive …\n" +
             alert("The log file \"empty.logarchive\" could not be read: it is a log archive, which only a Mac's log "
                   "tool reads; on a Mac, open it with --file, or save its log with: log show --archive "
                   "\"empty.logarchive\" --style json --info > tm.json (\"log show --archive\" returned error number "
                   "1).")},
    };
    expectRuns(runs);
    // The same day in every style, behind the terminal's text, reads as its JSON twin: only the first
    // line differs; so do its entries reversed, saved twice, or in two captures joined newest first.
    // Compact has no offsets: read in another zone, only the instants printed move.
    const Outcome json = cli({"check", "--file", kSamples + "macos13-disk-away.json"});
    const auto rest = [](const std::string& out) { return out.substr(out.find('\n')); };
    std::vector<std::string> entries;
    std::ifstream ndjson(kSamples + "macos13-disk-away.ndjson");
    for (std::string line; std::getline(ndjson, line);)
        if (line.starts_with("{\"timezoneName\""))
            entries.push_back(line + "\n");
    const auto captured = [](const std::string& name, const auto& lines) {
        std::ofstream(scratch(name)) << std::accumulate(lines.begin(), lines.end(), std::string());
        return scratch(name);
    };
    std::vector<std::string> halves(entries.begin() + 100, entries.end());
    halves.insert(halves.end(), entries.begin(), entries.begin() + 100);
    std::vector<std::string> twice = entries;
    twice.insert(twice.end(), entries.begin(), entries.end());
    const std::pair<std::vector<std::string>, std::string> styles[] = {
        {{kSamples + "macos13-disk-away.log"},
         "(default style, 3 leading lines passed over, 3 trailing lines passed over)"},
        {{kSamples + "macos13-disk-away.syslog.txt"},
         "(syslog style, 4 leading lines passed over, 4 trailing lines passed over)"},
        {{kSamples + "macos13-disk-away.compact.txt", "--tz", "America/Los_Angeles"},
         "(compact style, times read in America/Los_Angeles, 3 leading lines passed over, 2 trailing lines "
         "passed over)"},
        {{kSamples + "macos13-disk-away.ndjson"}, "(ndjson style)"},
        {{kSamples + "macos13-disk-away.logarchive"}, R"((a log archive, read by "log show --archive"))"},
        {{captured("reversed.ndjson", entries | std::views::reverse)}, "(ndjson style, entries put in time order)"},
        {{captured("newest-first.ndjson", halves)}, "(ndjson style, entries put in time order)"},
        {{captured("twice.ndjson", twice)},
         "(ndjson style, entries put in time order, 264 repeated entries counted once)"},
    };
    for (const auto& [arguments, reading] : styles) {
        std::vector<std::string> command = {"check", "--file"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const Outcome outcome = cli(command);
        const std::string name = std::filesystem::path(arguments[0]).filename().string();
        EXPECT_EQ(outcome.status, 2);
        EXPECT_TRUE(outcome.out.starts_with("Read from the log file \"" + name + "\" " + reading + ":"))
            << outcome.out.substr(0, 200);
        EXPECT_EQ(rest(outcome.out), rest(json.out)) << name;
    }
    const Outcome tokyo = cli({"check", "--file", kSamples + "macos13-disk-away.compact.txt", "--tz", "Asia/Tokyo"});
    EXPECT_TRUE(rest(tokyo.out).starts_with("\nAnalysis from 2023-02-17 10:00:00 +0000 to 2023-02-18 07:00:00 +0000"));
    EXPECT_NE(tokyo.out.find("It was last used 19.2 hours ago (2023-02-17 11:49:00 +0000)."), std::string::npos);
}

TEST(CliUsage, HelpAndMistakes)
{
    const auto usage = [](const std::string& message) {
        return "quillfen-cli: " + message + "\nTry 'quillfen-cli --help' for more information.\n";
    };
    const CliRun runs[] = {
        {{"--help"}, 0, "Usage: quillfen-cli COMMAND…"},
        {{"check", "--help"}, 0, "NAME\n    quillfen-cli check - …"},
        {{"help", "speed"}, 0, "NAME\n    quillfen-cli speed - …"},
        {{"apfs", "-h"}, 0, "NAME\n    quillfen-cli apfs - …"},
        {{"help", "backup-now"}, 0, "NAME\n    quillfen-cli backup-now - …"},
        {{}, 3, "", usage("no command given")},
        {{"chekc"}, 3, "", usage("unknown command 'chekc'")},
        {{"check", "--verbose"}, 3, "", usage("unknown option '--verbose'")},
        {{"check", "--hours"}, 3, "", usage("option '--hours' needs a value")},
        {{"check", "extra"}, 3, "", usage("unexpected argument 'extra'")},
        {{"check", "--ea", "--nagios"}, 3, "", usage("choose one of '--json', '--nagios' and '--ea'")},
        {{"speed", "--json"}, 3, "", usage("'--json', '--nagios' and '--ea' go with check only")},
        {{"backup-now", "--hours", "3"}, 3, "", usage("backup-now takes no period")},
        {{"backup-now", "--file", "log.txt"}, 3, "", usage("backup-now reads no log file")},
        {{"apfs", "--file"}, 3, "", usage("option '--file' needs a value")},
        {{"check", "--svg"}, 3, "", usage("option '--svg' needs a value")},
        {{"speed", "--prometheus", "out.prom"}, 3, "", usage("'--svg' and '--prometheus' go with check only")},
        {{"check", "--macos", "13.2"}, 3, "", usage("'--macos' goes with '--file' only: this Mac's release …")},
        {{"apfs", "--file", "x", "--macos", "9.1"}, 3, "", usage("'--macos' wants a macOS release such as 13.2, …")},
        {{"check", "--tz", "UTC"}, 3, "", usage("'--tz' goes with '--file' only")},
        {{"check", "--file", "x", "--tz", "../../../etc/passwd"},
         3,
         "",
         usage("unknown time zone '../../../etc/passwd': give its name in the time zone database, such as "
               "America/Los_Angeles")},
        {{"apfs", "--file", "x", "--tz=Mars/Olympus_Mons"}, 3, "", usage("unknown time zone 'Mars/Olympus_Mons': …")},
        {{"check", "--timeout", "0"}, 3, "", usage("'--timeout' takes a whole number of seconds from 1 to 86400")},
        {{"--version"}, 0, "quillfen-cli " QUILLFEN_VERSION "\n"},
        {{"check", "-V"}, 0, "quillfen-cli " QUILLFEN_VERSION "\n"},
        {{"check", "-w", "1h"}, 3, "", usage("'-w' goes with '--nagios' only")},
        {{"speed", "--save-result", "r.json"}, 3, "", usage("'--save-result' goes with check only")},
        {{"check", "--json", "--from", "r.json"}, 3, "", usage("'--from' goes with 'check --ea' only")},
        {{"check", "--ea", "--from", "r.json", "--hours", "3"}, 3, "", usage("'--from' reads a saved Check: …")},
        {{"check", "--nagios", "--critical=soon"}, 3, "", usage("'-c' wants an age such as 90m, 12h or 1d …'soon'")},
        {{"check", "--nagios", "-w", "0m"}, 3, "", usage("'-w' wants an age … not '0m'")},
        {{"check", "--nagios", "-c", "367d"}, 3, "", usage("'-c' wants an age … not '367d'")},
        {{"backup-now", "--timeout=86401"},
         3,
         "",
         usage("'--timeout' takes a whole number of seconds from 1 to 86400")},
        {{"apfs", "--timeout", "1m"}, 3, "", usage("'--timeout' takes a whole number of seconds from 1 to 86400")},
    };
    expectRuns(runs);
}

} // namespace
} // namespace quillfen::testing
