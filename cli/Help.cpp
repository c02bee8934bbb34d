#include "cli/Help.h"

namespace quillfen::cli {

namespace {

constexpr std::string_view kOverview = R"(Usage: quillfen-cli COMMAND [OPTIONS]

Tells how this Mac's Time Machine backups have been behaving, from the
Time Machine entries of its unified log, or of a log saved to a file
(--file PATH with check, speed and apfs).

Commands:
  check        Analyse the last hours of the log: report and traffic light.
  speed        List the period's "Copied" entries.
  apfs         List the period's snapshot and backup activity (macOS 11 or later).
  backup-now   Ask Time Machine to start a backup now.
  help COMMAND Show the manual page of a command (also: COMMAND --help).

Exit status of check: 0 green, 1 orange, 2 red, 3 no verdict.
)";

constexpr std::string_view kCheck = R"(NAME
    quillfen-cli check - is this Mac's Time Machine backing up well?

SYNOPSIS
    quillfen-cli check [--hours HOURS] [--file PATH [--macos VERSION] [--tz ZONE]]
                       [--json | --nagios [-w AGE] [-c AGE] | --ea] [--svg FILE]
                       [--prometheus FILE] [--save-result FILE] [-t | --timeout SECONDS]
    quillfen-cli check --ea --from FILE

DESCRIPTION
    Reads the last HOURS of Time Machine entries from the unified log and
    prints the report exactly as the window shows it: backup destinations
    and their free space, backups started and completed, how long they took
    and how far apart they started, data copied, snapshots, scan kinds and
    error lines. When automatic backups look overdue it goes on to check the
    two services that schedule them (DAS and CTS) and adds their verdicts.
    When no backup completed in the period it looks further back: on this
    Mac, the log's backup starts and completions of the last 30 days and
    "tmutil status" (both read-only); in a file, its entries before the
    period. The report then says when the last backup completed, or how far
    back none did, and a backup under way since before the period is given
    with its start, destination and progress.
    From macOS 13 on the log keeps CTS's message only briefly: a CTS that
    the log shows nothing of is reported as not judged, not as stopped.

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as the window's period
        field reads it: the whole number at the start of the text; below 1
        counts as 1, above 48 as 48.
    --file PATH
        Analyse a saved log instead of this Mac's, in any style that
        "log show" and "log stream" write: default, syslog, compact, json or
        ndjson, told apart by the content. A pasted terminal session will
        do: prompts, the command, its banner and column titles before the
        first entry, and the closing summary, "^C" and the next prompt after
        the last, are passed over. The file is read once, front to back, so
        a pipe will do too. The file may hold every subsystem; only the
        entries the queries ask for are used, in time order whatever order
        the file has them in; an exact repeat (the same time and message)
        counts once. A file name that is not UTF-8 is shown with U+FFFD for
        each byte that is not. An entry dated more than a day from every
        other one (a clock that was wrong for a moment) is passed over and
        counted in the first line: it moves neither end of the period. The
        period ends at the file's newest entry, not now, and "minutes ago"
        counts back from there; the report's first line says so. Without
        --hours the period reaches back to the file's oldest entry (at most
        48 hours). DAS and CTS are judged from the file's own entries of
        those services, or reported as not checked when it has none. A file
        with no entry in any style is refused, quoting its first line that
        is not an entry.
        PATH "-" reads standard input; a pipe or FIFO reads as a file does
        (a FIFO that no program writes to within 30 seconds is refused), a
        gzip, xz, bzip2 or zstd file as its content, a zip or tar archive as
        the one file in it, and a file that grows while it is read up to its
        size when it was opened.
    --macos VERSION
        The macOS release of the Mac the file comes from, such as 13.2: the
        lines that depend on the release follow it instead of this Mac's.
    --tz ZONE
        The time zone, as the time zone database names it (for example
        America/Los_Angeles), of a compact-style file, whose times carry no
        offset; without it they are read in this Mac's zone. The report's
        first line names the zone. Ages do not depend on it.
    --json
        Print one JSON object instead of the report: the light, the
        assessment, the period, the report text, the causes and the figures
        it is made of (see the README and docs/check.schema.json).
    --nagios
        Print one monitoring-plugin status line, naming the cause when the
        report gives one, with performance data in seconds, plain counts of
        the period and bytes. The tools' default time is then 50 seconds,
        within NRPE's 60.
    -w, --warning AGE
    -c, --critical AGE
        With --nagios: the status is at least WARNING, or CRITICAL, when the
        last completed backup known is older than AGE, or when none is known.
        AGE is a whole number of seconds, or of minutes, hours or days with
        m, h or d after it (90m, 12h, 1d), up to a year. The limits never
        lower the light's status; they stand in last_backup_age's
        performance data, and the line names the one that raised the status
        ("last backup older than 1d").
    --ea
        Print one inventory line, <result>LIGHT: CAUSE</result>; without a
        verdict, <result>no verdict: WHY</result>.
    --from FILE
        With --ea: answer from a Check saved with --save-result, at once and
        without running a tool, adding how long ago it ran:
        <result>green (checked 12.0 minutes ago)</result>.
    --save-result FILE
        Also keep the Check as --json prints it in FILE, written whole and
        readable by all, for --ea --from.
    --prometheus FILE
        Also write the Check's metrics to FILE in the text format that
        node_exporter's textfile collector reads (name it *.prom in its
        directory). FILE is written beside itself and renamed, so a half
        file is never read. A Check without a verdict still replaces FILE,
        with quillfen_check_failed 1; when FILE cannot be written the exit
        status is 3.
    --svg FILE
        Also write the period's timeline to FILE as an SVG picture, as the
        window draws it above the report: each backup as a bar, gaps of more
        than 90 minutes between automatic starts shaded, errors as crosses.
        FILE is replaced whole or not at all; when it cannot be written the
        exit status is 3, and with --nagios the line is UNKNOWN and says why.
        A FILE of --svg or --prometheus that is the --file being read (the
        same file by any name) is refused before anything runs.
    -t, --timeout SECONDS
        End a tool of the Mac (log, sw_vers) that has not finished after
        SECONDS, 1 to 86400 (default 600; 50 with --nagios), with every
        process it started;
        the run then gives no verdict. A tool that prints more than 4 GiB
        is ended the same way.
    -V, --version
        Print the version and end.
    -h, --help
        Show this page.

EXIT STATUS
    0  green: backups look healthy
    1  orange: something needs a look
    2  red: backups have a problem
    3  no verdict: a tool failed, the log or log file could not be read,
       the command was told to end, or bad usage

SIGNALS
    SIGTERM, SIGINT and SIGHUP end the command at once: the tools it
    started are ended with every process they started (asked, then after
    2 seconds made to), the outputs say why there is no verdict ("the Check
    was ended by SIGTERM before it finished"), and the exit status is 3.
    Files of --svg and --prometheus are left as they were.

    Failed tools are reported on standard error as the alert's message text,
    a blank and its informative text.

PROGRESS
    When standard error is a terminal, a read that takes more than half a
    second shows how far it has come on one line there, redrawn up to four
    times a second and cleared before anything else is printed:
        Reading capture.json: 312.4 MB of 1.02 GB, 4 s
        Reading the log: 1,234,567 entries, 12 s
    A compressed file counts its bytes as stored; a pipe gives only the
    bytes read so far. Nothing is shown when standard error is not a
    terminal, and standard output never carries it, so --json, --nagios and
    --ea output stays whole.

EXAMPLES
    quillfen-cli check --hours 24
    quillfen-cli check --file capture.log
    quillfen-cli check --file compact.txt --tz Europe/Berlin
    quillfen-cli check --nagios -w 2h -c 1d
    quillfen-cli check --hours 12 --svg timeline.svg
    quillfen-cli check --prometheus /usr/local/var/quillfen/textfile/quillfen.prom
)";

constexpr std::string_view kSpeed = R"(NAME
    quillfen-cli speed - list how much each backup copied

SYNOPSIS
    quillfen-cli speed [--hours HOURS] [--file PATH [--macos VERSION] [--tz ZONE]] [--timeout SECONDS]

DESCRIPTION
    Lists, with their times, all Time Machine log entries of the last HOURS
    whose message contains "Copied", as the log holds them.

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as for check.
    --file PATH, --tz ZONE
        List from a saved log instead, as for check.
    --macos VERSION
        The release of the Mac the file comes from, as for check.
    --timeout SECONDS
        End a tool that has not finished after SECONDS, as for check.
    -h, --help
        Show this page.

EXIT STATUS
    0  the listing was printed
    3  the log tool failed, its output or the log file could not be read

    A long read shows its progress on a terminal, as for check.
)";

constexpr std::string_view kApfs = R"(NAME
    quillfen-cli apfs - list snapshot and backup activity

SYNOPSIS
    quillfen-cli apfs [--hours HOURS] [--file PATH [--macos VERSION] [--tz ZONE]] [--timeout SECONDS]

DESCRIPTION
    Lists, with their times, the Time Machine log entries of the last HOURS
    that tell of starting, finding, mounting, copying, creating and deleting
    backups and snapshots. Needs macOS 11 or later, as the window's APFS
    button does, unless it lists a saved log (--file).

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as for check.
    --file PATH, --tz ZONE
        List from a saved log instead, as for check.
    --macos VERSION
        The release of the Mac the file comes from, as for check.
    --timeout SECONDS
        End a tool that has not finished after SECONDS, as for check.
    -h, --help
        Show this page.

EXIT STATUS
    0  the listing was printed
    3  the log tool failed, its output or the log file could not be read,
       or this Mac runs a macOS older than 11

    A long read shows its progress on a terminal, as for check.
)";

constexpr std::string_view kBackupNow = R"(NAME
    quillfen-cli backup-now - start a Time Machine backup

SYNOPSIS
    quillfen-cli backup-now [--timeout SECONDS]

DESCRIPTION
    Asks Time Machine to start a backup at once (tmutil startbackup -a -r)
    and returns as soon as it has been asked; it does not wait for the
    backup to end. Run check later to see how it went.

OPTIONS
    --timeout SECONDS
        End a tool that has not finished after SECONDS, as for check.
    -h, --help
        Show this page.

EXIT STATUS
    0  Time Machine took the request
    3  tmutil failed, could not be started or did not finish in time
)";

} // namespace

std::string_view overviewHelp()
{
    return kOverview;
}

std::optional<std::string_view> commandHelp(std::string_view command)
{
    if (command == "check")
        return kCheck;
    if (command == "speed")
        return kSpeed;
    if (command == "apfs")
        return kApfs;
    if (command == "backup-now")
        return kBackupNow;
    return std::nullopt;
}

} // namespace quillfen::cli
