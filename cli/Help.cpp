#include "cli/Help.h"

namespace quillfen::cli {

namespace {

constexpr std::string_view kOverview = R"(Usage: quillfen-cli COMMAND [OPTIONS]

Tells how this Mac's Time Machine backups have been behaving, from the
Time Machine entries of its unified log.

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
    quillfen-cli check [--hours HOURS] [--json | --nagios]

DESCRIPTION
    Reads the last HOURS of Time Machine entries from the unified log and
    prints the report exactly as the window shows it: backup destinations
    and their free space, backups started and completed, how long they took
    and how far apart they started, data copied, snapshots, scan kinds and
    error lines. When automatic backups look overdue it goes on to check the
    two services that schedule them (DAS and CTS) and adds their verdicts.

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as the window's period
        field reads it: the whole number at the start of the text; below 1
        counts as 1, above 48 as 48.
    --json
        Print one JSON object instead of the report: the light, the
        assessment, the period, the report text and the figures it is made
        of (see the README for the fields).
    --nagios
        Print one monitoring-plugin status line with performance data.
    -h, --help
        Show this page.

EXIT STATUS
    0  green: backups look healthy
    1  orange: something needs a look
    2  red: backups have a problem
    3  no verdict: a tool failed, the log could not be read, or bad usage

    Failed tools are reported on standard error as the alert's message text,
    a blank and its informative text.

EXAMPLES
    quillfen-cli check --hours 24
    quillfen-cli check --nagios
)";

constexpr std::string_view kSpeed = R"(NAME
    quillfen-cli speed - list how much each backup copied

SYNOPSIS
    quillfen-cli speed [--hours HOURS]

DESCRIPTION
    Lists, with their times, all Time Machine log entries of the last HOURS
    whose message contains "Copied", as the log holds them.

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as for check.
    -h, --help
        Show this page.

EXIT STATUS
    0  the listing was printed
    3  the log tool failed or its output could not be read
)";

constexpr std::string_view kApfs = R"(NAME
    quillfen-cli apfs - list snapshot and backup activity

SYNOPSIS
    quillfen-cli apfs [--hours HOURS]

DESCRIPTION
    Lists, with their times, the Time Machine log entries of the last HOURS
    that tell of starting, finding, mounting, copying, creating and deleting
    backups and snapshots. Needs macOS 11 or later, as the window's APFS
    button does.

OPTIONS
    --hours HOURS
        The period, 1 to 48 hours (default 2), read as for check.
    -h, --help
        Show this page.

EXIT STATUS
    0  the listing was printed
    3  the log tool failed, its output could not be read, or this Mac runs
       a macOS older than 11
)";

constexpr std::string_view kBackupNow = R"(NAME
    quillfen-cli backup-now - start a Time Machine backup

SYNOPSIS
    quillfen-cli backup-now

DESCRIPTION
    Asks Time Machine to start a backup at once (tmutil startbackup -a -r)
    and returns as soon as it has been asked; it does not wait for the
    backup to end. Run check later to see how it went.

OPTIONS
    -h, --help
        Show this page.

EXIT STATUS
    0  Time Machine took the request
    3  tmutil failed or could not be started
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
