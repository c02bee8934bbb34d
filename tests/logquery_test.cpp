#include "logquery/LogDecoder.h"
#include "logquery/LogFile.h"
#include "logquery/LogQuery.h"
#include "logquery/LogReader.h"
#include "logquery/LogTimestamp.h"
#include "logquery/TextLog.h"
#include "platform/InputFile.h"
#include "platform/Process.h"
#include "platform/Queues.h"
#include "support/Wait.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace quillfen {
namespace {

TEST(LogQueries, ArgumentsEndInTheirPeriod)
{
    EXPECT_EQ(withPeriod(baseLogArguments(kPredicateTM), 90, 'm'),
              (std::vector<std::string>{"show", "--predicate", R"(subsystem == "com.apple.TimeMachine")", "--style",
                                        "json", "--info", "--last", "90m"}));
}

std::string fields(const LogEntry& e)
{
    return std::string(e.timestamp).append("|").append(e.subsystem).append("|").append(e.eventMessage);
}

// The verdict on `text` fed in pieces and, for an array, each entry as "timestamp|subsystem|message".
std::string decode(std::string_view text, std::size_t piece = SIZE_MAX,
                   std::size_t batchBytes = LogDecoder::kBatchBytes)
{
    std::string seen;
    LogDecoder decoder([&](const LogEntry& e) { seen += fields(e) + "\n"; }, batchBytes);
    for (std::size_t at = 0; at < text.size(); at += piece)
        decoder.feed(text.substr(at, piece));
    const JsonTopLevel shape = decoder.finish();
    const std::string_view verdicts[] = {"invalid\n", "[]\n", "array\n", "object\n"};
    return std::string(verdicts[static_cast<int>(shape)]) + (shape == JsonTopLevel::NonEmptyArray ? seen : "");
}

// Decoding each text whole, and in pieces of every size up to 400 bytes with small batches, gives `expected`.
void expectDecoded(std::initializer_list<std::string_view> texts, const std::string& expected)
{
    for (const std::string_view text : texts) {
        EXPECT_EQ(decode(text), expected) << text.substr(0, 40);
        for (std::size_t piece = 1; piece < text.size() && piece < 400; ++piece)
            ASSERT_EQ(decode(text, piece, piece % 40 + 1), expected) << text.substr(0, 40) << " in pieces " << piece;
    }
}

TEST(LogDecoder, HandsOverEntriesInOrderAndJudgesEveryShapeWhereverTheInputIsCut)
{
    expectDecoded({R"([
      {"traceID" : 45473881108119556, "timestamp" : "t1", "eventMessage" : "first\nline", "source" : null},
      {"eventMessage" : "second \"quoted\" \/ \u2019", "timestamp" : "t2", "subsystem" : "com.apple.TimeMachine"},
      1, "x", null, [], {"timestamp" : "t"}, {"eventMessage" : "m"}, {"timestamp" : 5, "eventMessage" : "m"},
      {"timestamp" : "a", "eventMessage" : "b", "eventMessage" : "last wins", "subsystem" : 3}])"},
                  "array\nt1||first\nline\nt2|com.apple.TimeMachine|second \"quoted\" / \u2019\na||last wins\n");
    const std::string deep = std::string(5000, '[') + std::string(5000, ']'), nul("[\"a\0b\"]", 7);
    expectDecoded(
        {// Not one JSON text, cut off, or too deep
         "", "\n  ", "null", "42", "\"[]\"", "[", "[{]", "[] []", "[]x", "[]]", "Filtering the log data\n[]", deep,
         // Bad commas, numbers, bytes and byte-order marks
         "[1,]", "[,1]", "[1,,2]", "[01]", "[1.]", "[-]", "[1e400x]", "[NaN]", "{\"a\":01}", "[\"\x01\"]",
         "[\"\xff\xfe\"]", nul, " \xEF\xBB\xBF[]", "\xEF\xBB[]"},
        "invalid\n");
    expectDecoded({"[]", "\t[\r\n]\n ", "\xEF\xBB\xBF [ ]"}, "[]\n");
    expectDecoded(
        {"[1]", R"([{"traceID" : 123456789012345678901234567890, "x" : [1e400, -1e400, -9223372036854775809]}])"},
        "array\n");
    expectDecoded({"{}", "\xEF\xBB\xBF{\"n\" : 1E+999}"}, "object\n");
}

// Many batches as the tool prints them, `element` the one before the last, `tail` closing the array.
std::string largeLog(std::string_view element, std::string_view tail = "\n}]\n")
{
    std::string text = "[";
    for (int i = 0; i < 12000; ++i) {
        text += i == 0 ? "{\n" : "},{\n";
        text += "  \"backtrace\" : {\n    \"frames\" : [\n      {\n        \"imageOffset\" : 2019033\n      }\n"
                "    ]\n  },\n  \"subsystem\" : \"s\",\n  \"timestamp\" : \"t" +
                std::to_string(i) + "\",\n  \"eventMessage\" : \"" + std::string(200, 'm') + "\"\n";
    }
    return text + "},\n" + std::string(element) + ",{\n  \"timestamp\" : \"t\",\n  \"eventMessage\" : \"last\"" +
           std::string(tail);
}

TEST(LogDecoder, LargeOutputsDecodeInBatchesWithTheWholeOutputsVerdict)
{
    std::string valid = "array\n";
    for (int i = 0; i < 12000; ++i)
        valid += "t" + std::to_string(i) + "|s|" + std::string(200, 'm') + "\n";
    valid += "t||last\n";
    const std::string invalid = "invalid\n", huge(1100000, 'x');
    std::string compact = largeLog("{}");
    std::erase(compact, '\n');
    const std::pair<std::string, std::string> cases[] = {
        {largeLog("{}"), valid},
        // A nested object closed at the start of a line looks like an element's end.
        {largeLog("{\"a\" : {\n},\"b\" : [{\n},\n{\n}]}"), valid},
        // ... and the one that ends a cut longer than a batch, decided by the exact scan.
        {largeLog("{\"a\" : {\n},\"b\" : \"" + huge + "\"}"), valid},
        {largeLog("{\"a\" : {\n},\"b\" : \"" + huge + "\n\"}"), invalid},
        {largeLog(R"({"n" : [123456789012345678901234567890, 1e400]})"), valid},
        {largeLog(R"({"n" : 01})"), invalid},
        {largeLog("{\"s\" : \"a\nb\"}"), invalid},
        {largeLog("{}", "\n},]"), invalid},
        {largeLog("{}", "\n}] x"), invalid},
        {largeLog("{}", "\n}"), invalid},
        {"{\"a\" : " + largeLog("{}") + "}", "object\n"},
        // Without line breaks there is no cheap cut; the exact one still bounds the batches.
        {compact, valid},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(decode(text), expected) << text.substr(text.size() - 120);
        EXPECT_EQ(decode(text, 4093), expected) << text.substr(text.size() - 120);
    }
    // A handler's failure reaches whoever feeds the decoder, whichever thread ran the handler.
    LogDecoder failing(
        [](const LogEntry& e) {
            EXPECT_NE(e.timestamp, "t6000") << "an entry after the failure";
            if (e.timestamp == "t5000")
                throw std::length_error("full");
        },
        4093);
    EXPECT_THROW(
        {
            failing.feed(largeLog("{}"));
            failing.finish();
        },
        std::length_error);
    // What can no longer decode is refused while it arrives, so the rest is never read.
    for (const std::string& start : {std::string("y\ny\n"), largeLog("{}") + std::string(2 << 20, ' ') + "x" + huge,
                                     "{" + std::string(17 << 20, ' ')}) {
        LogDecoder decoder;
        decoder.feed(start);
        EXPECT_TRUE(decoder.refusesMore()) << start.substr(0, 10);
    }
}

// Entries as "timestamp|subsystem|message", then the style, how many lines
// came before the first entry, how many with text after the last, how many captures there were beyond one
// and whether one was cut off, or "error: …" when the input does not read.
// Times without an offset are read eight hours west of UTC unless `zone` says otherwise.
std::vector<std::string> readText(
    std::string_view text, std::size_t piece, TextLogReader::ZoneOffset zone = [](Date) { return -8 * 3600L; })
{
    std::vector<std::string> read;
    LogReader reader(
        [&](const LogEntry& e) {
            // A time the reader gives is the one its timestamp reads as, to the last bit.
            EXPECT_EQ(e.time, e.time ? parseLogTimestamp(e.timestamp) : e.time) << e.timestamp;
            read.push_back(fields(e));
        },
        std::move(zone));
    for (std::size_t at = 0; at < text.size(); at += piece)
        reader.feed(text.substr(at, piece));
    if (const auto failure = reader.finish())
        read.push_back("error: " + *failure);
    else if (const auto style = reader.style())
        read.push_back(std::string(styleName(*style)) + " " + std::to_string(reader.linesPassedOver()) +
                       (reader.trailingLinesPassedOver() > 0
                            ? ", " + std::to_string(reader.trailingLinesPassedOver()) + " trailing"
                            : "") +
                       (reader.captures() > 1 ? ", " + std::to_string(reader.captures()) + " captures" : "") +
                       (reader.cutOff() ? ", cut off" : ""));
    return read;
}

// The entries a text reader gives, then the lines it read and why it stopped, when each piece's lines were read as
// entries of `ahead` first (as on the thread that reads a file ahead), or not.
std::vector<std::string> readTextLines(std::string_view text, std::size_t piece, std::optional<LogStyle> ahead)
{
    std::vector<std::string> read;
    TextLogReader reader([&](const LogEntry& e) { read.push_back(fields(e)); }, [](Date) { return -8 * 3600L; });
    PreparedLines lines;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        const std::string_view bytes = text.substr(at, piece);
        if (ahead) {
            lines.read(bytes, ahead);
            reader.readAhead(&lines);
        }
        if (reader.feed(bytes) < bytes.size())
            break;
    }
    reader.finish();
    read.push_back(std::to_string(reader.linesRead()) + " " + reader.error().value_or(""));
    return read;
}

constexpr std::string_view kTime = "2023-02-17 19:12:13.456317-0800";

std::string entryLine(std::string_view source, std::string_view message)
{
    return std::string(kTime).append(" 0x14e3a98  Info        0x0                  23864  0    ").append(source) +
           std::string(message) + "\n";
}

// `text` as `fold -w width` writes it, or `fold -s -w width` (breaking after the last blank that fits);
// a tab reaches the next multiple of eight columns, as fold counts it.
std::string folded(std::string_view text, std::size_t width, bool atBlanks)
{
    const auto columns = [](std::string_view line) {
        std::size_t column = 0;
        for (const char c : line)
            column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
        return column;
    };
    std::string out, line;
    for (const char c : text) {
        if (c != '\n' && columns(line + c) > width) {
            const std::size_t blank = line.find_last_of(' ');
            const std::size_t cut = atBlanks && blank != std::string::npos ? blank + 1 : line.size();
            out += line.substr(0, cut) + "\n";
            line.erase(0, cut);
        }
        if (c == '\n') {
            out += line + "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    return out + line;
}

TEST(LogReader, ReadsEveryStyleBehindAnyTerminalTextInPiecesOfAnySize)
{
    const std::string tm = entryLine("backupd: (TimeMachine) [com.apple.TimeMachine:General] ", "Completed");
    const std::string one = std::string(kTime) + "|com.apple.TimeMachine|", none = std::string(kTime) + "||";
    const std::string syslog =
        std::string(kTime) + "  localhost backupd[23864]: (TimeMachine) [com.apple.TimeMachine:General] ";
    const std::string compact = "2023-02-17 19:12:13.456 I  backupd[23864:14e3a98] [com.apple.TimeMachine:General] ";
    const std::string json = R"({"timestamp":"2023-02-17 19:12:13.456317-0800","eventMessage":"m","subsystem":"s"})";
    const std::string jsonRead = std::string(kTime) + "|s|m";
    const std::string pretty = "{\n  \"timestamp\": \"" + std::string(kTime) +
                               "\",\n  \"source\": {\n    \"image\": \"x\"\n  },\n  \"eventMessage\": \"m\",\n  "
                               "\"subsystem\": \"s\"\n}\n";
    const std::string bracketed = R"({"timestamp":"2023-02-17 19:12:13.456317-0800","eventMessage":"a] %"})";
    const std::string bracketedRead = std::string(kTime) + "||a] %";
    const std::string joined = "[{\n  \"timestamp\" : \"" + std::string(kTime) +
                               "\",\n  \"eventMessage\" : \"m\",\n  "
                               "\"subsystem\" : \"s\"\n}]";
    const auto ragged = [](std::string message) {
        return R"({"timestamp":"2023-02-17 19:12:13.456317-0800","eventMessage":")" + message + "\"}";
    };
    const auto raggedRead = [](std::string message) { return std::string(kTime) + "||" + message; };
    const std::string_view messages[] = {
        "Starting automatic backup",
        "Backing up 1 volumes to Backups of Mac (/dev/disk3s1): /Volumes/Backups of Mac",
        "Mountpoint '/Volumes/Backups of Mac' is still valid",
        "Copied 12.3 MB from volume Macintosh HD - Data, 1204 items (Total: 4.2 GB)",
        "Found 2 perfect clone families, 0 partial clone families. Shallow scan.",
        "Backup completed successfully\n\tdestination: Backups of Mac",
        "Not starting scheduled Time Machine backup: Battery level is too low",
    };
    // A message's own tab-led lines, and a backup's name that a wrap may put at the start of a line.
    std::string tabbedLog = syslog + ".          .\n\tProgress: 20% done, 48.29%/h, 1.44 MB/s, avg: 5.01 MB/s, 2.67 "
                                     "items/s, avg: 9.03 items/s\n";
    for (int i = 0; i < 4; ++i)
        tabbedLog += syslog + "Completed backup: 2023-02-17-190400 Completed backup: 2023-02-17-190400 Completed "
                              "backup: 2023-02-17-190400\n";
    std::string defaultLog = "Filtering the log data using \"subsystem == \\\"com.apple.TimeMachine\\\"\"\nTimestamp"
                             "                       Thread     Type        Activity             PID    TTL  \n",
                syslogLog, compactLog, multiLine;
    for (const std::string_view message : messages) {
        defaultLog += entryLine("backupd: (TimeMachine) [com.apple.TimeMachine:General] ", message);
        syslogLog += syslog + std::string(message) + "\n";
        compactLog += compact + std::string(message) + "\n";
        multiLine += entryLine("backupd: ", message.substr(0, message.find(' '))) + std::string(message) + "\n";
    }
    std::string blanksDropped = folded(defaultLog, 80, true), cutAfterColumns = folded(defaultLog, 80, false);
    for (std::string* text : {&blanksDropped, &cutAfterColumns})
        for (std::size_t at = 0; (at = text->find(" \n", at)) != std::string::npos;)
            text->erase(at, 1);
    // Saved as UTF-16 with its mark, units converted one by one; or with the classic Mac's line ends.
    const auto utf16 = [](std::u16string_view text, bool little) {
        std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
        for (const char16_t unit : text) {
            const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
            out.append({little ? low : high, little ? high : low});
        }
        return out;
    };
    const std::u16string tm16(tm.begin(), tm.end()), syslog16(syslog.begin(), syslog.end());
    std::string tmCr = tm;
    tmCr.back() = '\r';
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // A wrap that cannot be undone for sure: the blanks at its breaks are gone.
        {blanksDropped,
         {"error: it looks hard-wrapped at 79 columns (lines of at most 79 characters, entries broken "
          "across lines); save it again without wrapping"}},
        // Cut at the margin, the blanks there stripped: a first line that ends with its columns joins its message
        // (a blank lost inside a message stays a line end).
        {cutAfterColumns,
         [&] {
             std::vector<std::string> read;
             for (const std::string_view message : messages)
                 read.push_back(one + std::regex_replace(std::string(message), std::regex("d s"), "d\ns"));
             read.push_back("default 3");
             return read;
         }()},
        {"% log show --last 1h\nFiltering the log data using \"x\"\nSkipping debug messages, pass --debug to include.\n"
         "Timestamp                Thread     Type     Activity\n\n" +
             tm,
         {one + "Completed", "default 5"}},
        {tm + "\tFiles Copied\n\n  tail\n\n\n" + tm,
         {one + "Completed\n\tFiles Copied\n\n  tail", one + "Completed", "default 0"}},
        {std::string(kTime) + "\t0x1\tError\t0x2\t7\t0\tbackupd: [com.apple.TimeMachine:Scheduling] Skip\n",
         {one + "Skip", "default 0"}},
        // Rows of Console's Copy with their dates, in one column or two, and the subsystem.
        {"Default\t2023-02-17 19:12:13.456317 -0800\tbackupd\tcom.apple.TimeMachine\tCompleted\n\tmore\n"
         "error\t2023-02-17\t19:12:13.456317-0800\tbackupd\tcom.apple.TimeMachine\tFailed\n",
         {one + "Completed\n\tmore", one + "Failed", "console 0"}},
        // macOS 10.12 wrote no TTL column.
        {"Timestamp                       Thread     Type        Activity             PID    \n" + std::string(kTime) +
             " 0x1a2b     Default     0x0                  123    backupd: (TimeMachine) "
             "[com.apple.TimeMachine:General] Completed\n",
         {one + "Completed", "default 1"}},
        {entryLine("kernel: ", "[y] no subsystem") + entryLine("heard: (Lib) ", "plain: text"),
         {none + "[y] no subsystem", none + "plain: text", "default 0"}},
        {"brian@Mac ~ % log stream\r\n" + tm.substr(0, tm.size() - 1) + "\r\n\tmore\r\n",
         {one + "Completed\n\tmore", "default 1"}},
        {tm + "bad \xff\xc3( end\n", {one + "Completed\nbad \uFFFD\uFFFD( end", "default 0"}},
        {tm + "cut continua", {one + "Completed\ncut continua", "default 0"}},
        // A message's own line as long as the entry line after it
        {tm + "\t" + tm.substr(1) + tm,
         {one + "Completed\n\t" + tm.substr(1, tm.size() - 2), one + "Completed", "default 0"}},
        {tm + tm.substr(0, 40), {one + "Completed", "default 0"}},
        {tm + std::string(90, '-') + "\nLog      - Default:          1, Info:    0\n^C\n" + tm + "^C\nuser@host ~ %\n",
         {one + "Completed", one + "Completed", "default 0, 2 trailing, 2 captures"}},
        // A post's or a mail's text around the log: a fence, a signature, prose after a blank line.
        {"Here it is:\n```\n" + tm + "\tFiles Copied\n```\nThanks! Error: no idea why.\n",
         {one + "Completed\n\tFiles Copied", "default 2, 2 trailing"}},
        {entryLine("backupd: ", "Backup result: {") + "    BackupStrategy = 2;\n}\n-- \nBrian\n",
         {none + "Backup result: {\n    BackupStrategy = 2;\n}", "default 0, 2 trailing"}},
        {tm + "Error: x =\n\nstill its own\n\nAny idea?\nError: it failed\n\n" + tm,
         {one + "Completed\nError: x =\n\nstill its own", one + "Completed", "default 0, 2 captures"}},
        // Quoted in a mail, or indented in a post, up to the first line that starts a log after the prefix.
        {"Brian wrote:\n> " + tm + "> \tFiles Copied\n>\n> Thanks\n",
         {one + "Completed\n\tFiles Copied", "default 1, 1 trailing"}},
        {"> > " + syslog + "Completed\n> >\n> >   more\n> nested no more\n",
         {one + "Completed\n\n  more\n> nested no more", "syslog 0"}},
        {"Log:\n\t" + compact + "Completed\n\t\tmore\n",
         {"2023-02-17 19:12:13.456-0800|com.apple.TimeMachine|Completed\n\tmore", "compact 1"}},
        {"    [" + json + ",\n    " + json + "]\n", {jsonRead, jsonRead, "json 0"}},
        {utf16(tm16 + u"\tsmile \U0001F600 lone \xD800!\n\xDC00", true),
         {one + "Completed\n\tsmile \U0001F600 lone \uFFFD!\n\uFFFD", "default 0"}},
        {utf16(syslog16 + u"Completed\r\n", false), {one + "Completed", "syslog 0"}},
        {"% log show\r" + tmCr + "\tmore\r" + tmCr, {one + "Completed\n\tmore", one + "Completed", "default 1"}},
        // A line of another style, its header or JSON begins another capture, read in its own style.
        {tm + syslog + "x\n", {one + "Completed", one + "x", "default 0, 2 captures"}},
        {tm + "Timestamp               Ty Process[PID:TID]\n" + compact + "x\n" + json + "\n[" + json + "]",
         {one + "Completed", "2023-02-17 19:12:13.456-0800|com.apple.TimeMachine|x", jsonRead, jsonRead,
          "default 0, 4 captures"}},
        {"[]\n% log show\n" + tm, {one + "Completed", "default 2"}},
        // An entry's shape with an impossible date is text of the entry before.
        {tm + "2023-02-30" + tm.substr(10),
         {one + "Completed\n2023-02-30" + tm.substr(10, tm.size() - 11), "default 0"}},
        {"\xEF\xBB\xBFhello\n" + tm, {one + "Completed", "default 1"}},
        {"", {}},
        {"\n\nFiltering the log data using \"x\"\n\xEF\xBB\xBF", {}},
        // syslog, with a process name that holds blanks and a line of text after the entry
        {"[user@host ~]$ sudo /usr/bin/log show --style syslog | tee x\nPassword:\n"
         "Timestamp                       (process)[PID]\n" +
             syslog + "Completed\n  more\n" + std::string(kTime) + "  Mac Google Chrome Helper[7]: [a.b:c] x: y\n",
         {one + "Completed\n  more", std::string(kTime) + "|a.b|x: y", "syslog 3"}},
        {std::string(kTime) + "  localhost backupd[x]: text\n", {}},
        {syslog + "Completed", {one + "Completed", "syslog 0"}},
        // compact, read in the zone; the type codes, no subsystem, an ID that is not one
        {"(base) name@host ~ % /usr/bin/log stream --style compact\nTimestamp               Ty Process[PID:TID]\n" +
             compact +
             "Completed\n\tmore\n2023-02-17 19:12:14.000 Df kernel[0:1f] (AppleACPI) text\n"
             "2023-02-17 19:12:15.5 Db a[1:x] no\n^C\n(base) name@host ~ %\n",
         {"2023-02-17 19:12:13.456-0800|com.apple.TimeMachine|Completed\n\tmore",
          "2023-02-17 19:12:14.000-0800||text\n2023-02-17 19:12:15.5 Db a[1:x] no", "compact 2, 2 trailing"}},
        {compact + "Completed\n", {"2023-02-17 19:12:13.456-0800|com.apple.TimeMachine|Completed", "compact 0"}},
        // A control character ends no column: a type "Df\x01" is none, and the line is text.
        {compact + "Completed\n2023-02-17 19:12:14.000 Df\x01 a[1:2] [a.b:c] x\n",
         {"2023-02-17 19:12:13.456-0800|com.apple.TimeMachine|Completed\n2023-02-17 19:12:14.000 Df\x01 a[1:2] [a.b:c] "
          "x",
          "compact 0"}},
        // JSON behind a prompt, up to the next prompt; nested arrays closed at a line's end do not end it
        {"\u276F log show --style json --last 1h\n[" + json + ",\n{\"a\" : [\n1\n]\n, \"b\" : [2]\n}\n]\n\u276F \n",
         {jsonRead, "json 1, 1 trailing"}},
        {"[user@host ~]$ log show --style json\n  [\n" + json + "]\n[user@host ~]$ log show\n",
         {jsonRead, "json 1, 1 trailing"}},
        {"\xEF\xBB\xBF[" + json + "]", {jsonRead, "json 0"}},
        // ... or on the line that closes it, which a "]" in a message does not.
        {"[" + json + "]%\nuser@host ~ % \n", {jsonRead, "json 0, 2 trailing"}},
        {"[" + bracketed + ",\n" + json + "][user@host ~]$ ", {bracketedRead, jsonRead, "json 0, 1 trailing"}},
        {"\xEF\xBB[]\n", {}},
        {"[" + json + ",\n]\n% \n", {"error: its JSON is cut off or damaged"}},
        // Joined outputs, or the terminal's text and another run after the array
        {joined + joined + "%\n", {jsonRead, jsonRead, "json 0, 1 trailing, 2 captures"}},
        {"[" + json + "]\n\n[" + json + "]\n", {jsonRead, jsonRead, "json 0, 2 captures"}},
        {"[" + json + "]%\nuser@host ~ % log show\n" + tm, {jsonRead, one + "Completed", "json 0, 2 captures"}},
        // Cut off (head -c, ^C): read up to the last whole entry, unless damaged before it.
        {"[" + json + "]\n[" + json + ",\n", {jsonRead, jsonRead, "json 0, 2 captures, cut off"}},
        {"[" + json + ",\n" + json + "\n^C\n[user@host ~]$ \n", {jsonRead, jsonRead, "json 0, 1 trailing, cut off"}},
        {"[" + json + ",\n" + json.substr(0, 30), {jsonRead, "json 0, cut off"}},
        {"[" + json + ",\n{\"timestamp\" x},\n" + json + ",\n", {"error: its JSON is cut off or damaged"}},
        {"[\n", {"error: its JSON is cut off or damaged"}},
        {"[]", {"json 0"}},
        // ndjson behind a prompt, with its closing record and the terminal's text after it
        {"% log stream --style ndjson\n" + json + "\r\n\n{\"count\":1,\"finished\":1}\n^C\n% \n" + json,
         {jsonRead, jsonRead, "ndjson 1"}},
        {json + "\n" + tm, {jsonRead, one + "Completed", "ndjson 0, 2 captures"}},
        {json + "\n{\"timestamp\":\n", {jsonRead, "error: line 2 is not a whole JSON object"}},
        {json + "\n{\"timestamp\":", {jsonRead, "ndjson 0, cut off"}},
        // The array's entries one after another, as jq '.[]' prints them; a nested object's "}" does not end one.
        {"% jq '.[]' tm.json\n" + pretty + pretty + "% \n", {jsonRead, jsonRead, "json 1"}},
        {pretty + pretty.substr(0, 40), {jsonRead, "json 0, cut off"}},
        // Braces around a post's text before the log are passed over; after an object, they are damage.
        {"{\n  \"AutoBackup\" = 1;\n}\n" + pretty, {jsonRead, "json 3"}},
        {pretty + "{\n  \"timestamp\" x\n}\n", {jsonRead, "error: lines 9 to 11 are not a whole JSON object"}},
        // Lines of JSON as long as each other, with long words, are no wrapped text.
        {"[" + ragged("a") + ",\n" + ragged("bbbbbbbbbb") + ",\n" + ragged("ccccc") + ",\n" + ragged("dd") + "]\n",
         {raggedRead("a"), raggedRead("bbbbbbbbbb"), raggedRead("ccccc"), raggedRead("dd"), "json 0"}},
    };
    for (const auto& [text, entries] : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, text.size() + 1})
            EXPECT_EQ(readText(text, piece), entries) << text.substr(0, 300) << " in pieces of " << piece;
        for (const LogStyle ahead : {LogStyle::Default, LogStyle::Syslog, LogStyle::Compact, LogStyle::Console})
            for (const std::size_t piece : {std::size_t{64}, text.size() + 1})
                EXPECT_EQ(readTextLines(text, piece, ahead), readTextLines(text, piece, std::nullopt))
                    << text.substr(0, 300) << " read ahead as " << styleName(ahead) << " in pieces of " << piece;
    }
    // Hard-wrapped, with or without breaks at blanks: read as before the wrap; a message's own lines stay.
    const std::tuple<std::string, std::size_t, bool> wrapped[] = {
        {defaultLog, 76, true},  {defaultLog, 80, false}, {defaultLog, 120, true}, {syslogLog, 76, false},
        {syslogLog, 80, true},   {syslogLog, 120, false}, {compactLog, 76, true},  {compactLog, 80, false},
        {compactLog, 120, true}, {multiLine, 500, true},  {tabbedLog, 80, true},   {tabbedLog, 76, false},
    };
    for (const auto& [text, width, atBlanks] : wrapped) {
        const std::string wrap = folded(text, width, atBlanks);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, wrap.size() + 1})
            EXPECT_EQ(readText(wrap, piece), readText(text, 100)) << wrap.substr(0, 300) << " in pieces of " << piece;
    }
    // Compact times across a change to summer time at 10:00 UTC: the hour that does not exist keeps the offset before.
    const auto summer = [](Date at) { return at.sinceEpoch < 1678615200 ? -8 * 3600L : -7 * 3600L; };
    EXPECT_EQ(readText("2023-03-12 01:30:00.000 Df a[1:2] x\n2023-03-12 02:30:00.000 Df a[1:2] x\n"
                       "2023-03-12 03:30:00.000 Df a[1:2] x\n",
                       SIZE_MAX, summer),
              (std::vector<std::string>{"2023-03-12 01:30:00.000-0800||x", "2023-03-12 02:30:00.000-0800||x",
                                        "2023-03-12 03:30:00.000-0700||x", "compact 0"}));
    // The hour repeated at the end of summer time is read in the order of the entries, in real zones.
    const std::pair<const char*, std::vector<std::string>> autumn[] = {
        {"America/Los_Angeles",
         {"2026-03-08 02:30:00.000-0800", "2026-11-01 00:50:00.000-0700", "2026-11-01 01:30:00.000-0700",
          "2026-11-01 01:50:00.000-0700", "2026-11-01 01:49:59.000-0700", "2026-11-01 01:10:00.000-0800",
          "2026-11-01 01:40:00.000-0800", "2026-11-01 02:10:00.000-0800"}},
        {"Europe/Berlin",
         {"2026-03-29 02:30:00.000+0100", "2026-10-25 01:50:00.000+0200", "2026-10-25 02:30:00.000+0200",
          "2026-10-25 02:50:00.000+0200", "2026-10-25 02:49:59.000+0200", "2026-10-25 02:10:00.000+0100",
          "2026-10-25 02:40:00.000+0100", "2026-10-25 03:10:00.000+0100"}},
    };
    for (const auto& [zone, times] : autumn) {
        std::string text;
        std::vector<std::string> expected;
        for (const std::string& time : times) {
            text += time.substr(0, 23) + " Df backupd[1:2] x\n";
            expected.push_back(time + "||x");
        }
        expected.push_back("compact 0");
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(readText(text, 5, localUtcOffset), expected) << zone;
    }
    ::unsetenv("TZ");
    ::tzset();
}

// A directory of the test's own, for saved logs and tools to run.
class Files : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, std::string_view contents)
    {
        std::ofstream(dir_ / name, std::ios::binary) << contents;
        std::filesystem::permissions(dir_ / name, std::filesystem::perms::owner_all);
        return dir_ / name;
    }
    std::string script(const std::string& name, const std::string& body) { return write(name, "#!/bin/sh\n" + body); }

    std::filesystem::path dir_ = std::filesystem::temp_directory_path() / ("quillfen-" + std::to_string(::getpid()));
};

TEST_F(Files, SavedLogOfFiftyMegabytesOfEverySubsystemKeepWhatThePredicatesSelect)
{
    constexpr std::time_t kStart = 1'700'000'000, kEntries = 240'000;
    const std::string_view sources[] = {
        "backupd: [com.apple.TimeMachine:General] Backup COPIED ",
        "backupd: [com.apple.TimeMachine:General] Mountpoint is still valid",
        "backupd: [com.apple.TimeMachineX:General] Copied elsewhere",
        "dasd: (DAS) [com.apple.duetactivityscheduler:Scoring] Rescoring all\n\tactivities\n",
    };
    // Far more than one entry may hold: the reader keeps nothing of what it has passed.
    std::string text;
    for (std::time_t at = kStart; at < kStart + kEntries; ++at) {
        std::array<char, 40> time{};
        std::tm parts{};
        std::strftime(time.data(), time.size(), "%F %T.000000+0000", ::gmtime_r(&at, &parts));
        text.append(time.data()).append(" 0x1a  Default  0x0  42  0    ").append(sources[at % 4]);
        text += (at % 4 ? "" : std::to_string(at - kStart)) + std::string(100, ' ') + "\n";
    }
    const std::string_view predicates[] = {kPredicateSpeed, kPredicateDAS, kPredicateCTS};
    std::vector<std::uint64_t> progress;
    SavedLogLimits limits;
    limits.bytesRead = [&](std::uint64_t bytes, std::optional<std::uint64_t> size) {
        progress.push_back(bytes);
        EXPECT_EQ(size, text.size());
    };
    const SavedLog log = readSavedLog(write("log", text), predicates, limits).log.value();
    // Read a piece ahead of the parsing, each piece's progress as far as it reached.
    EXPECT_GT(progress.size(), 2u);
    EXPECT_TRUE(std::ranges::is_sorted(progress));
    EXPECT_EQ(progress.back(), text.size());
    // Of 66 hours only the last 48, first second included, can fall in a period: an entry every four seconds.
    ASSERT_EQ(log.queries[0].entries.size(), 48 * 60 * 15);
    EXPECT_EQ(log.queries[0].entries.back().eventMessage, "Backup COPIED 239996" + std::string(100, ' '));
    EXPECT_EQ(log.queries[1].entries.size(), 48 * 60 * 15 + 1);
    EXPECT_FALSE(log.queries[2].subsystemSeen);
    EXPECT_EQ(log.oldest, Date{kStart});
    EXPECT_EQ(log.newest, Date{kStart + kEntries - 1});
    EXPECT_EQ(log.hoursSpanned(), 48);
    // A Copied entry every four seconds, the last at 239996: the period's first second counts.
    EXPECT_EQ(log.inPeriod(0, 403).size(), 101u);
}

// The gzip file of `text`, written in `members` members.
std::string gzipped(std::string_view text, int members = 1)
{
    std::string out;
    for (int member = 0; member < members; ++member) {
        const std::size_t from = text.size() * member / members, to = text.size() * (member + 1) / members;
        const std::string_view part = text.substr(from, to - from);
        z_stream stream{};
        deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        std::string packed(deflateBound(&stream, part.size()), '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
        stream.avail_in = static_cast<uInt>(part.size());
        stream.next_out = reinterpret_cast<Bytef*>(packed.data());
        stream.avail_out = static_cast<uInt>(packed.size());
        deflate(&stream, Z_FINISH);
        out.append(packed.data(), stream.total_out);
        deflateEnd(&stream);
    }
    return out;
}

// An archive in `format` through `filter` of `files`, a name ending in "/" being a folder.
std::string archived(int format, int filter, const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string out;
    archive* writer = archive_write_new();
    archive_write_set_format(writer, format);
    archive_write_add_filter(writer, filter);
    archive_write_set_bytes_in_last_block(writer, 1);
    const auto append = [](archive*, void* to, const void* bytes, std::size_t count) -> la_ssize_t {
        static_cast<std::string*>(to)->append(static_cast<const char*>(bytes), count);
        return static_cast<la_ssize_t>(count);
    };
    archive_write_open(writer, &out, nullptr, append, nullptr);
    for (const auto& [name, contents] : files) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, name.ends_with('/') ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(contents.size()));
        archive_write_header(writer, entry);
        archive_write_data(writer, contents.data(), contents.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

TEST_F(Files, SavedLogFromAnySourceInEitherFormOrAFailureThatSaysWhy)
{
    const std::string tm = R"({"subsystem" : "com.apple.TimeMachine", "eventMessage" : "m", "timestamp" : ")";
    const std::string json = "[" + tm + "2023-02-17 20:00:00.000000-0800\"},\n" + tm +
                             "2023-02-17 23:30:00.000000-0800\"},\n {\"subsystem\" : \"other\", \"eventMessage\" : "
                             "\"m\", \"timestamp\" : \"2023-02-18 00:00:00.000000-0800\"}]";
    const std::string noEntry = R"(it holds no log entry in any style that "log show" writes (default, syslog, )"
                                R"(compact, json, ndjson))";
    const std::string preamble = "Filtering the log data using \"x\"\r\nSkipping debug messages, pass --debug to "
                                 "include.\n  ";
    const std::string read = "2 4 1 json style, 2 leading lines passed over";
    const std::string console = "its rows look copied from Console, without their ",
                      saveIt = "; on the Mac, save the log with: log show --style json --info --last 1d > tm.json";
    std::string skips;
    for (int minute = 0; minute < 4; ++minute)
        skips += "2023-02-17 20:0" + std::to_string(minute) +
                 ":00.000000-0800  localhost backupd[1]: (TimeMachine) [com.apple.TimeMachine:General] Skipping "
                 "scheduled Time Machine backup: No destinations are potentially available\n";
    // Wrapped by a mail client, its breaks' blanks stripped: entries broken in their columns cannot be joined.
    const std::string stripped = std::regex_replace(
        folded(std::regex_replace(skips, std::regex("  localhost backupd\\[1\\]:"),
                                  " 0x11e2ff   Default     0x0                  23864  0    backupd:"),
               72, false),
        std::regex(" +\n"), "\n");
    enum class From { File, Fifo, SilentFifo, Stdin };
    struct Case {
        std::string contents, expected;
        From from = From::File;
        std::uint64_t pipeBytes = SavedLogLimits{}.pipeBytes;
        std::size_t heldBytes = SavedLogLimits{}.heldBytes;
    };
    // Entries a minute apart, forwards or backwards.
    const auto minutes = [&tm](int count, bool backwards) {
        std::string lines;
        for (int i = 0; i < count; ++i)
            lines +=
                tm + "2023-02-17 20:" + std::to_string(10 + (backwards ? count - i : i) % 50) + ":00.000000-0800\"}\n";
        return lines;
    };
    // Entries kept, hours spanned, entries in the last hour and how the file was read, or why it does not read.
    const Case cases[] = {
        {json, "2 4 1 json style"},
        {preamble + json, read},
        // Of the entries of one instant, only an exact repeat counts once.
        {"[" + tm + "2023-02-17 20:00:00.000000-0800\"}," + tm + "2023-02-18 04:00:00.000000+0000\"}," +
             R"({"subsystem":"com.apple.TimeMachine","eventMessage":"n","timestamp":"2023-02-17 20:00:00.000000-0800"}])",
         "2 1 2 json style, 1 repeated entry counted once"},
        {folded(skips, 80, true), "4 1 4 syslog style, lines hard-wrapped at 75 columns joined again"},
        {stripped, "it looks hard-wrapped at 72 columns (lines of at most 72 characters, entries broken across lines); "
                   "save it again without wrapping"},
        // An entry dated far from all others moves neither end of the period, first in the file or last;
        // two such entries near each other are part of the log, and one alone is the whole log.
        {"[" + tm + "2039-02-17 20:00:00.000000-0800\"}," + json.substr(1),
         "2 4 1 json style, 1 entry dated more than a day from all others passed over"},
        {json.substr(0, json.size() - 1) + "," + tm + "2039-02-17 20:00:00.000000-0800\"}," + tm +
             "2001-01-01 00:00:00.000000+0000\"}]",
         "2 4 1 json style, 2 entries dated more than a day from all others passed over"},
        {json.substr(0, json.size() - 1) + "," + tm + "2023-02-20 20:00:00.000000-0800\"}," + tm +
             "2023-02-20 20:10:00.000000-0800\"}]",
         "2 48 2 json style"},
        {"[" + tm + "2039-02-17 20:00:00.000000-0800\"}]", "1 1 1 json style"},
        {json.substr(0, json.size() - 1) +
             R"(,{"subsystem":"other","eventMessage":"m","timestamp":"2039-02-17 20:00:00.000000-0800"}])",
         "2 4 1 json style, 1 entry dated more than a day from all others passed over"},
        {"% log show\n" + json.substr(0, json.size() - 1) + "\n% \n",
         "2 4 1 json style, 1 leading line passed over, cut off after its last whole entry"},
        {json + "\n" + json,
         "2 4 1 json style, 2 captures, entries put in time order, 2 repeated entries counted once"},
        {"[]\n", noEntry},
        {"default\t2023-02-17 20:00:00.000000-0800\tbackupd\tcom.apple.TimeMachine\tStarting automatic backup\n",
         "1 1 1 rows copied from Console"},
        {"default\t20:00:00.000000 -0800\tbackupd\tStarting automatic backup\n", console + "dates" + saveIt},
        {"Default\t2023-02-17 20:00:00.000000-0800\tbackupd\tStarting automatic backup\n",
         console + "subsystems" + saveIt},
        {"", noEntry},
        {"[" + tm + "2023-02-30 20:00:00.000000-0800\"}]", noEntry},
        {"\xef\xbb\xbfTimestamp Thread\tx\n",
         noEntry + R"(; its first line that is not one reads "Timestamp Thread x")"},
        // A terminal's escapes do not reach the terminal, and the quote is cut short.
        {"\n \x1b[2J\xc2\x9b" + std::string(70, 'x') + "\xff\n",
         noEntry + "; its first line that is not one reads \"\uFFFD[2J\uFFFD" + std::string(55, 'x') + "\u2026\""},
        // No text, quoted nowhere: named where its start shows what it is.
        {"\n \x7f"
         "ELF\x02\x01\x1b[2J\xc2\x9b\n",
         "it is not text (it holds bytes that text does not)"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "\n[]", "it is not text (a PNG image)"},
        {"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "it is not text (a PDF document)"},
        {std::string("[\0{\0\"\0t\0i\0m\0e\0s\0t\0a\0m\0p\0\"\0:\0", 26),
         "its encoding could not be read (it looks like UTF-16 without a byte-order mark); save it again as UTF-8"},
        {std::string(TextLogReader::kMaximumEntryBytes + 1, 'x'), "line 1 is too long for a log entry"},
        // An entry of a subsystem that no query asks about is read for its time alone, however long.
        {entryLine("backupd: [com.apple.TimeMachine:General] ", "Starting") + entryLine("kernel: [other:x] ", "{") +
             [] {
                 const std::string line = '\t' + std::string(9 << 20, 'x') + '\n';
                 return line + line;
             }() +
             entryLine("backupd: [com.apple.TimeMachine:General] ", "Completed"),
         "2 1 2 default style"},
        // Compressed, whatever the name; members one after another read on.
        {gzipped(json), "2 4 1 json style"},
        {gzipped(preamble + json, 3), read},
        {gzipped(json).substr(0, 40), "its gzip data is cut off"},
        {gzipped(json) + "\x1f\x8b junk", "its gzip data is damaged"},
        // Other compressions and archives: the one log in them, folders and the Finder's own files passed over.
        {gzipped(json) + std::string(1000, '\0'), "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_XZ, {{"data", json}}), "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_BZIP2, {{"data", json}}), "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_ZSTD, {{"data", json}}), "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_XZ, {{"data", json}}).substr(0, 60), "its xz data is cut off"},
        {archived(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE,
                  {{"logs/", ""}, {"logs/tm.json", json}, {"__MACOSX/logs/._tm.json", "\x00\x05"}}),
         "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_GZIP,
                  {{"logs/", ""}, {"logs/._tm.log", "x"}, {"logs/tm.log", preamble + json}}),
         read},
        // Compressed once more inside the archive.
        {archived(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, {{"tm.json.gz", gzipped(json)}}), "2 4 1 json style"},
        {archived(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE,
                  {{"log.txt.xz", archived(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_XZ, {{"data", preamble + json}})}}),
         read},
        {archived(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, {{"a.log", json}, {"b\x1b.json", json}}),
         "it is a zip archive of 2 files (a.log, b\uFFFD.json); extract the log and read that file"},
        {archived(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE, {}), "it is a zip archive with no log in it"},
        {archived(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_XZ,
                  {{"sysdiagnose_2023.02.17_Mac/", ""}, {"sysdiagnose_2023.02.17_Mac/system_logs.logarchive/", ""}}),
         "it is a sysdiagnose archive: its logs are in system_logs.logarchive, which only a Mac's log tool reads; on "
         "a Mac, open it with --file"},
        // Small files that expand beyond any entry are refused as soon as that shows.
        {gzipped("[" + std::string(size_t{64} << 20, ' ')), "line 1 is too long for a log entry"},
        {gzipped(std::string(size_t{64} << 20, '\0')), "it is not text (it holds bytes that text does not)"},
        // Nothing can seek back in a pipe.
        {preamble + json, read, From::Fifo},
        {gzipped(preamble + json), read, From::Stdin},
        {"", "no program wrote to it within 1 second", From::SilentFifo},
        // A pipe without end, and entries held to be put in order, stop at their limits.
        {minutes(400, false), "more than 8 KiB came through its pipe; save the log to a file to read that much",
         From::Fifo, 8 << 10},
        {minutes(20, false), "more than 1 KiB of its entries fall in the period; choose a shorter period", From::Fifo,
         SavedLogLimits{}.pipeBytes, 1024},
        {minutes(20, true),
         "its entries are out of time order, and more than 1 KiB of them would have to be held to put "
         "them in order; save the log again with one run of the log tool",
         From::File, SavedLogLimits{}.pipeBytes, 1024},
        {minutes(20, true), "20 1 20 ndjson style, entries put in time order"},
        {[&] {
             std::string same;
             for (int i = 0; i < 400; ++i)
                 same += tm + "2023-02-17 20:00:00.000000-0800\"}\n";
             return same;
         }(),
         "1 1 1 ndjson style, 399 repeated entries counted once", From::Fifo, SavedLogLimits{}.pipeBytes, 1024},
    };
    // Read keeping the entries, and tallying them as they are read: the same entries and reading.
    const auto outcome = [&](const Case& given, bool tallying) {
        std::string path = write("log", given.contents);
        std::thread writer;
        const int savedStdin = ::dup(STDIN_FILENO);
        if (given.from != From::File) {
            std::filesystem::remove(path);
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
        if (given.from == From::Fifo || given.from == From::Stdin)
            writer = std::thread([&, path] { std::ofstream(path, std::ios::binary) << given.contents; });
        if (given.from == From::Stdin) {
            ::close(STDIN_FILENO);
            EXPECT_EQ(::open(path.c_str(), O_RDONLY), STDIN_FILENO);
            path = "-";
        }
        std::vector<Date> tallied;
        SavedLogLimits limits;
        limits.writerWait = std::chrono::milliseconds(50);
        limits.pipeBytes = given.pipeBytes;
        limits.heldBytes = given.heldBytes;
        if (tallying) {
            limits.tally = [&tallied](const LogEntry& entry) {
                tallied.push_back(*parseLogTimestamp(entry.timestamp));
            };
            limits.startTally = [&tallied] { tallied.clear(); };
        }
        const auto [log, why] = readSavedLog(path, std::array{kPredicateTM}, limits);
        if (writer.joinable())
            writer.join();
        ::dup2(savedStdin, STDIN_FILENO);
        ::close(savedStdin);
        std::filesystem::remove(dir_ / "log");
        if (!log)
            return why;
        if (!log->tallied)
            for (const KeptEntry& entry : log->queries[0].entries)
                tallied.push_back(entry.time);
        EXPECT_TRUE(log->tallied || !tallying || given.from != From::File ||
                    log->readingNote().find("time order") != std::string::npos)
            << given.contents.substr(0, 200);
        return std::to_string(tallied.size()) + " " + std::to_string(log->hoursSpanned()) + " " +
               std::to_string(std::ranges::count_if(
                   tallied, [&](Date time) { return time.sinceEpoch >= log->newest.sinceEpoch - 3600; })) +
               " " + log->readingNote();
    };
    for (const Case& given : cases)
        for (const bool tallying : {false, true})
            EXPECT_EQ(outcome(given, tallying), given.expected) << given.contents.substr(0, 200) << tallying;
    EXPECT_EQ(readSavedLog(dir_ / "missing", std::array{kPredicateTM}).failure, "No such file or directory");
    EXPECT_EQ(readSavedLog(dir_, std::array{kPredicateTM}).failure, "Is a directory");
    // A file that grows while it is read ends where it ended when it was opened.
    const std::string growing = write("growing", "12345");
    auto opened = InputFile::open(growing, {});
    std::ofstream(growing, std::ios::app) << "678";
    std::array<char, 16> buffer{};
    EXPECT_EQ(opened.file->read(buffer), 5u);
    EXPECT_EQ(opened.file->read(buffer), 0u);
}

TEST_F(Files, SpawnToolPassesArgumentsLiterallyAndReportsOutputStatusSignalOrWhyItCouldNotStartOrWasEnded)
{
    // "status|signal|launch failure|why it was ended|output refused|output", within 300 ms and 1 MiB
    const auto run = [](const std::string& tool, const std::vector<std::string>& args = {}, bool capture = true,
                        std::size_t kept = 100) {
        TextOutput output(kept);
        const ToolResult r =
            spawnTool(tool, args, capture ? &output : nullptr, {std::chrono::milliseconds(300), 1 << 20});
        return std::to_string(r.terminationStatus) + "|" + std::to_string(r.killedBySignal) + "|" + r.launchFailure +
               "|" + r.endedEarly + "|" + (r.outputRefused ? "refused" : "") + "|" +
               std::string(output.text().substr(0, 40));
    };
    EXPECT_EQ(run(script("args", R"(for a in "$@"; do printf '<%s>' "$a"; done)"),
                  {R"(subsystem == "x" AND y)", "", "$HOME", "a'b"}),
              R"(0|0||||<subsystem == "x" AND y><><$HOME><a'b>)");
    EXPECT_EQ(run(script("one", "echo partial; exit 255")), "255|0||||partial\n");
    EXPECT_EQ(run(script("killed", "echo '[]'; kill -KILL $$")), "0|9||||[]\n");
    EXPECT_EQ(run(script("term", "kill -TERM $$"), {}, false), "0|15||||");
    EXPECT_EQ(run(dir_ / "absent"), "0|0|" + (dir_ / "absent").string() + ": No such file or directory|||");
    EXPECT_EQ(run(dir_), "0|0|" + dir_.string() + ": Permission denied|||");
    // Ended with everything it started, at the deadline, beyond the output limit, or when the reader refuses
    // more; a tool that ignores SIGTERM gets SIGKILL.
    const std::string late = "|did not finish within 300 milliseconds||";
    EXPECT_EQ(run(script("stalls", "echo '['; sleep 30 & sleep 30")), "0|0|" + late + "[\n");
    EXPECT_EQ(run(script("silent", "sleep 30"), {}, false), "0|0|" + late);
    EXPECT_EQ(run(script("stubborn", "trap '' TERM; exec sleep 30")), "0|0|" + late);
    EXPECT_EQ(run(script("chatty", "yes ''"), {}, true, 1 << 22),
              "0|0||printed more than 1 MiB||" + std::string(40, '\n'));
    EXPECT_EQ(run(script("long", "yes ''"), {}, true, 10), "0|0|||refused|" + std::string(40, '\n'));
    // What the tool leaves behind holding the pipe once it has exited is not waited for.
    EXPECT_EQ(run(script("leaves", "sleep 30 & echo done")), "0|0||||done\n");
}

TEST_F(Files, LogQueriesDecodeToolOutputWhileItIsWritten)
{
    const auto log = script("log", R"(printf '['; yes '{"timestamp":"t","eventMessage":"m"},' | head -n 200000
                                      echo '{"timestamp":"t","eventMessage":"kept"}]'; exit ${1:-0})");
    const RunTool runTool = [&](auto&, auto& args, OutputSink* output) { return spawnTool(log, args, output); };
    const auto keepAll = [](const LogEntry&) { return true; };
    const auto result = runLogCommand(runTool, {}, keepAll);
    ASSERT_EQ(result.log.entries.size(), 200'001u);
    EXPECT_EQ(result.log.entries.back().eventMessage, "kept");
    // A tool that fails is not looked at, however well its output decodes.
    const auto failed = runLogCommand(runTool, {"3"}, keepAll);
    EXPECT_TRUE(failed.log.entries.empty());
}

TEST(OperationQueue, RunsAtMostFourAtOnceAndClosingDropsWaitingOperationsWithoutWaiting)
{
    std::promise<void> gate;
    const std::shared_future<void> opened = gate.get_future().share();
    std::atomic<int> started = 0, finished = 0;
    {
        OperationQueue queue(4);
        for (int i = 0; i < 6; ++i)
            queue.add([&, opened] { ++started, opened.wait(), ++finished; });
        EXPECT_TRUE(testing::waitFor("four operations to start", [&] { return started >= 4; }));
    } // while four still run
    gate.set_value();
    EXPECT_TRUE(testing::waitFor("four operations to finish", [&] { return finished >= 4; }));
    EXPECT_EQ(started, 4);
}

} // namespace
} // namespace quillfen
