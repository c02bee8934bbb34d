#include "logquery/TextLog.h"

#include "logquery/LogTimestamp.h"
#include "platform/Utf8.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace quillfen {

namespace {

// Each byte's classes in a table: a load for a class, not a comparison for each range in it.
enum : unsigned char { kDigit = 1, kHexDigit = 2, kLetter = 4 };
constexpr std::array<unsigned char, 256> kClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9', lower = c >= 'a' && c <= 'z', upper = c >= 'A' && c <= 'Z';
        const bool hex = digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        classes[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>((digit ? kDigit : 0) | (hex ? kHexDigit : 0) | (lower || upper ? kLetter : 0));
    }
    return classes;
}();
constexpr bool inClass(char c, unsigned char which)
{
    return (kClasses[static_cast<unsigned char>(c)] & which) != 0;
}

// Function objects rather than functions, so that the algorithms given them inline the test for
// each character instead of calling it: every line of a text style passes through them.
constexpr auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
constexpr auto isDigit = [](char c) { return inClass(c, kDigit); };
constexpr auto isHexDigit = [](char c) { return inClass(c, kHexDigit); };
constexpr auto isLetter = [](char c) { return inClass(c, kLetter); };

// Eight bytes at a time: the bytes of a word equal to `c`, each marked by its high bit. Borrows
// run only upward, so the lowest mark is always a true one.
constexpr std::uint64_t kLowBits = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

constexpr std::uint64_t marksOf(std::uint64_t word, char c)
{
    const std::uint64_t equal = word ^ (kLowBits * static_cast<unsigned char>(c));
    return (equal - kLowBits) & ~equal & kHighBits;
}

// The bytes of a word below `n` (at most 0x80), each marked by its high bit; the lowest mark is always a true one.
constexpr std::uint64_t marksBelow(std::uint64_t word, unsigned char n)
{
    return (word - kLowBits * n) & ~word & kHighBits;
}

// Where the first byte that `test` holds for stands in `text` from `from` on, or npos. `marks` marks, in a word,
// at least the bytes `test` holds for, its lowest mark exact; a mark that `test` turns down is passed. A column or
// a process name is some tens of bytes: too few for memchr's call to pay, many for a byte at a time.
template <typename Marks, typename Test>
std::size_t findMarked(std::string_view text, std::size_t from, Marks marks, Test test)
{
    std::size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        // Most columns end within 16 bytes, some within the first eight, some after: the two words are looked at
        // together, so that which one it is costs no branch that the processor could guess wrong.
        while (i + 2 * sizeof(std::uint64_t) <= text.size()) {
            std::uint64_t words[2] = {};
            std::memcpy(words, text.data() + i, sizeof words);
            const std::uint64_t first = marks(words[0]), second = marks(words[1]);
            if ((first | second) == 0) {
                i += sizeof words;
                continue;
            }
            const int bits = std::countr_zero(first); // 64 when the first word has none
            const std::size_t at = i + static_cast<std::size_t>((bits + (bits >> 6) * std::countr_zero(second)) / 8);
            if (test(text[at]))
                return at;
            i = at + 1;
        }
        while (i + sizeof(std::uint64_t) <= text.size()) {
            std::uint64_t word = 0;
            std::memcpy(&word, text.data() + i, sizeof word);
            const std::uint64_t found = marks(word);
            if (found == 0) {
                i += sizeof word;
                continue;
            }
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(found) / 8);
            if (test(text[at]))
                return at;
            i = at + 1;
        }
    }
    for (; i < text.size(); ++i) {
        if (test(text[i]))
            return i;
    }
    return std::string_view::npos;
}

std::string_view trimmedStart(std::string_view text)
{
    // The default style pads its columns with runs of blanks: eight at a time.
    constexpr std::uint64_t kEightBlanks = 0x2020202020202020;
    while (text.size() >= sizeof kEightBlanks) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, text.data(), sizeof eight);
        const std::uint64_t differs = eight ^ kEightBlanks;
        if (differs == 0) {
            text.remove_prefix(sizeof eight);
            continue;
        }
        // The spaces before the first other byte, found at once; a tab after them is taken below.
        const int bits =
            std::endian::native == std::endian::little ? std::countr_zero(differs) : std::countl_zero(differs);
        text.remove_prefix(static_cast<std::size_t>(bits / 8));
        break;
    }
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view trimmedEnd(std::string_view text)
{
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next blank-separated column, taken off the front of `rest`.
inline std::string_view takeColumn(std::string_view& rest)
{
    rest = trimmedStart(rest);
    const std::size_t end =
        std::min(rest.size(), findMarked(
                                  rest, 0, [](std::uint64_t word) { return marksBelow(word, ' ' + 1); }, isBlank));
    const std::string_view column = rest.substr(0, end);
    rest.remove_prefix(end);
    return column;
}

template <typename Test> bool allOf(std::string_view text, Test test)
{
    return !text.empty() && std::ranges::all_of(text, test);
}

bool isHexNumber(std::string_view text)
{
    return text.size() > 2 && text.starts_with("0x") && allOf(text.substr(2), isHexDigit);
}

// "2023-02-17": where every entry line, even a cut one, begins.
bool startsWithDate(std::string_view line)
{
    static constexpr std::string_view kShape = "0000-00-00";
    if (line.size() < kShape.size())
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == '-' ? line[i] != '-' : !isDigit(line[i]))
            return false;
    }
    return true;
}

struct EntryLine {
    // Of the line when its date and time stand together there, else made.
    std::string_view lineTimestamp;
    std::string madeTimestamp;
    std::string_view subsystem;
    std::string_view message;
    // As parseLogTimestamp reads the timestamp (for the compact style, with the offset chosen).
    std::optional<Date> time;
    std::optional<LocalLogTime> local; // the compact style's time, until its zone's offset is chosen
    std::optional<long> offset;        // the compact style's, in seconds east: its timestamp's text goes on with it
    std::string_view timestamp() const { return madeTimestamp.empty() ? lineTimestamp : madeTimestamp; }
};

// Where `c` first stands in `text` from `from` on, or npos.
std::size_t findNear(std::string_view text, char c, std::size_t from = 0)
{
    return findMarked(
        text, from, [c](std::uint64_t word) { return marksOf(word, c); }, [c](char byte) { return byte == c; });
}

// "(sender) [subsystem:category] message", where the sender and the subsystem
// part are each left out when the entry has none.
void splitSource(std::string_view rest, EntryLine& entry)
{
    if (rest.starts_with('(')) {
        const std::size_t close = findNear(rest, ')');
        if (close != std::string_view::npos && (close + 1 == rest.size() || rest[close + 1] == ' '))
            rest.remove_prefix(std::min(rest.size(), close + 2));
    }
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        const std::size_t separator = findNear(rest.substr(0, close), ':');
        if (close != std::string_view::npos && separator < close &&
            (close + 1 == rest.size() || rest[close + 1] == ' ')) {
            entry.subsystem = rest.substr(1, separator - 1);
            rest.remove_prefix(std::min(rest.size(), close + 2));
        }
    }
    entry.message = rest;
}

// Default style after the fixed columns: "process: (sender) [subsystem:category] message".
void splitProcessAndSource(std::string_view rest, EntryLine& entry)
{
    std::size_t colon = findNear(rest, ':');
    while (colon != std::string_view::npos && (colon + 1 == rest.size() || rest[colon + 1] != ' '))
        colon = findNear(rest, ':', colon + 1);
    if (colon == std::string_view::npos)
        entry.message = rest;
    else
        splitSource(rest.substr(colon + 2), entry);
}

// "backupd[23864]" (syslog) or "backupd[23864:14e3a98]" (compact), whose name
// may hold blanks: what follows it, or nothing when `rest` does not start so.
// Each "[" is followed only over the digits after it, so a line of brackets costs no more than its length.
std::optional<std::string_view> afterProcess(std::string_view rest, bool withThread)
{
    for (std::size_t open = findNear(rest, '[', 1); open != std::string_view::npos;
         open = findNear(rest, '[', open + 1)) {
        std::size_t at = open + 1;
        const auto run = [&](auto test) {
            const std::size_t from = at;
            while (at < rest.size() && test(rest[at]))
                ++at;
            return at > from;
        };
        bool shaped = run(isDigit);
        if (withThread)
            shaped = shaped && at < rest.size() && rest[at++] == ':' && run(isHexDigit);
        if (shaped && at < rest.size() && rest[at] == ']')
            return rest.substr(at + 1);
    }
    return std::nullopt;
}

// "+0100", "-0800": the offset as the other styles write it.
void appendOffset(std::string& out, long seconds)
{
    const long minutes = std::labs(seconds) / 60;
    const long hours = minutes / 60 % 100;
    const std::array<char, 5> text{seconds < 0 ? '-' : '+', static_cast<char>('0' + hours / 10),
                                   static_cast<char>('0' + hours % 10), static_cast<char>('0' + minutes % 60 / 10),
                                   static_cast<char>('0' + minutes % 10)};
    out.append(text.data(), text.size());
}

// The offset of a zone at a local time, read as if it were UTC. In a gap of
// a change to summer time the offset before the change counts. An hour that
// repeats when summer time ends is read with the first offset until the log,
// which runs forward, would go back by more than its jitter: from there on,
// with the later one.
long offsetAtLocalTime(Date local, const TextLogReader::ZoneOffset& offsetAt, std::optional<Date> previous)
{
    constexpr double kDay = 24 * 60 * 60;
    constexpr double kJitter = 60;
    const long before = offsetAt(Date{local.sinceEpoch - kDay});
    const long after = offsetAt(Date{local.sinceEpoch + kDay});
    const auto holds = [&](long offset) {
        return offsetAt(Date{local.sinceEpoch - static_cast<double>(offset)}) == offset;
    };
    const bool beforeHolds = holds(before), afterHolds = holds(after);
    if (beforeHolds != afterHolds)
        return beforeHolds ? before : after;
    if (!beforeHolds || before == after)
        return before;
    const long first = std::max(before, after), later = std::min(before, after);
    const bool goesBack = previous && local.sinceEpoch - static_cast<double>(first) < previous->sinceEpoch - kJitter;
    return goesBack ? later : first;
}

// offsetAtLocalTime, from `steady` where it holds; a new stretch is kept when none holds.
long steadyOffsetAt(SteadyOffset& steady, Date local, const TextLogReader::ZoneOffset& offsetAt,
                    std::optional<Date> previous)
{
    constexpr double kDay = 24 * 60 * 60;
    if (local.sinceEpoch >= steady.from && local.sinceEpoch <= steady.to)
        return steady.offset;
    const long found = offsetAtLocalTime(local, offsetAt, previous);
    if (offsetAt(Date{local.sinceEpoch - 2 * kDay}) == found && offsetAt(local) == found &&
        offsetAt(Date{local.sinceEpoch + 2 * kDay}) == found)
        steady = {local.sinceEpoch - kDay, local.sinceEpoch + kDay, found};
    return found;
}

// "19:12:13"
bool startsWithTime(std::string_view text)
{
    static constexpr std::string_view kShape = "00:00:00";
    return text.size() >= kShape.size() &&
           std::ranges::equal(text.substr(0, kShape.size()), kShape,
                              [](char c, char s) { return s == ':' ? c == ':' : isDigit(c); });
}

// "com.apple.TimeMachine"
bool isReverseDomain(std::string_view text)
{
    return text.size() > 2 && isLetter(text.front()) && text.find('.') != std::string_view::npos &&
           std::ranges::all_of(text,
                               [](char c) { return isLetter(c) || isDigit(c) || c == '.' || c == '-' || c == '_'; });
}

bool isTypeName(std::string_view text)
{
    constexpr std::string_view kTypes[] = {"default", "info", "debug", "error", "fault"};
    return std::ranges::any_of(kTypes, [&](std::string_view type) {
        return text.size() == type.size() && std::ranges::equal(text, type, [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
               });
    });
}

// A row of Console's Copy: its columns, in the order the window shows them, joined by tabs; a type and a
// time among them, the message last. The date may stand in a column of its own before the time.
struct ConsoleRow {
    std::string time; // with the date when the row has one
    bool dated = false;
    std::string_view subsystem; // the last column shaped like one before the message; empty when none
    std::string_view message;
};

std::optional<ConsoleRow> readConsoleRow(std::string_view line)
{
    if (line.find('\t') == std::string_view::npos)
        return std::nullopt;
    ConsoleRow row;
    bool typed = false, timed = false;
    std::size_t columns = 0;
    std::string_view previous;
    for (std::size_t start = 0; start <= line.size(); ++columns) {
        const std::size_t end = std::min(line.find('\t', start), line.size());
        const std::string_view column = trimmedEnd(trimmedStart(line.substr(start, end - start)));
        start = end + 1;
        if (start > line.size()) {
            row.message = line.substr(std::min(line.size(), line.rfind('\t') + 1));
        } else if (isTypeName(column)) {
            typed = true;
        } else if (!timed && startsWithDate(column) && column.size() > 10 &&
                   startsWithTime(trimmedStart(column.substr(10)))) {
            row.time = std::string(column.substr(0, 10)) + ' ' + std::string(trimmedStart(column.substr(10)));
            row.dated = timed = true;
        } else if (!timed && startsWithTime(column)) {
            row.dated = previous.size() == 10 && startsWithDate(previous);
            row.time = row.dated ? std::string(previous) + ' ' + std::string(column) : std::string(column);
            timed = true;
        } else if (isReverseDomain(column)) {
            row.subsystem = column;
        }
        previous = column;
    }
    if (!typed || !timed || columns < 3)
        return std::nullopt;
    // Console writes the offset after a blank: "19:12:13.456317 +0100".
    if (const std::size_t blank = row.time.find_last_of(' '); blank > 10 && blank != std::string::npos)
        row.time.erase(blank, 1);
    return row;
}

// Why rows copied from Console do not read, or nothing when `row` does.
std::string whyConsoleRowFails(const ConsoleRow& row)
{
    const char* lacking = !row.dated                     ? "dates"
                          : !parseLogTimestamp(row.time) ? "UTC offsets"
                          : row.subsystem.empty()        ? "subsystems"
                                                         : nullptr;
    if (!lacking)
        return {};
    return std::string("its rows look copied from Console, without their ") + lacking +
           "; on the Mac, save the log with: log show --style json --info --last 1d > tm.json";
}

// Whether `line` is an entry line of `style`, and into `entry`, fresh, what its bytes alone tell of it, so that
// another thread may read them: the compact style's time is placed in the zone after (placeInZone). An entry is
// filled in place rather than returned: a copy's loads would wait on the stores that made it, on every line.
bool readColumns(LogStyle style, std::string_view line, EntryLine& entry)
{
    if (style == LogStyle::Console) {
        auto row = readConsoleRow(line);
        if (!row || !whyConsoleRowFails(*row).empty())
            return false;
        entry.madeTimestamp = std::move(row->time);
        entry.subsystem = row->subsystem;
        entry.message = row->message;
        return true;
    }
    if (!startsWithDate(line))
        return false;
    std::string_view rest = line;
    const std::string_view date = takeColumn(rest);
    const std::string_view time = takeColumn(rest);
    if (time.data() == date.data() + date.size() + 1)
        entry.lineTimestamp = line.substr(0, date.size() + 1 + time.size());
    else
        entry.madeTimestamp = std::string(date) + ' ' + std::string(time);
    if (style == LogStyle::Compact) {
        const auto local = parseLocalLogTimestamp(entry.timestamp());
        const std::string_view type = takeColumn(rest);
        if (!local || type.size() > 2 || !allOf(type, isLetter))
            return false;
        const auto source = afterProcess(trimmedStart(rest), true);
        if (!source)
            return false;
        entry.local = LocalLogTime{local->seconds, local->millis}; // field by field, as parseLocalLogTimestamp
        splitSource(trimmedStart(*source), entry);
        return true;
    }
    entry.time = parseLogTimestamp(entry.timestamp());
    if (!entry.time)
        return false;
    if (style == LogStyle::Syslog) {
        const std::string_view host = takeColumn(rest);
        const auto source = afterProcess(trimmedStart(rest), false);
        if (host.empty() || !source || !source->starts_with(':'))
            return false;
        splitSource(trimmedStart(source->substr(1)), entry);
        return true;
    }
    const std::string_view thread = takeColumn(rest);
    const std::string_view type = takeColumn(rest);
    const std::string_view activity = takeColumn(rest);
    const std::string_view pid = takeColumn(rest);
    if (!isHexNumber(thread) || !allOf(type, isLetter) || !isHexNumber(activity) || !allOf(pid, isDigit))
        return false;
    // macOS 10.12 wrote no TTL column; a process name ends in ":", so it is never all digits.
    std::string_view afterTtl = rest;
    if (allOf(takeColumn(afterTtl), isDigit))
        rest = afterTtl;
    else if (trimmedStart(rest).empty())
        return false; // a line broken after the PID

    splitProcessAndSource(trimmedStart(rest), entry);
    return true;
}

// The compact style's time at the zone's offset then. `previous`: the time of the compact entry before, which
// settles a time that the zone repeats.
void placeInZone(EntryLine& entry, const TextLogReader::ZoneOffset& offsetAt, std::optional<Date> previous,
                 SteadyOffset* steady)
{
    if (!entry.local)
        return;
    const Date asUtc = entry.local->atOffset(0);
    const long offset =
        steady ? steadyOffsetAt(*steady, asUtc, offsetAt, previous) : offsetAtLocalTime(asUtc, offsetAt, previous);
    entry.offset = offset;
    entry.time = entry.local->atOffset(offset / 60); // the text keeps whole minutes
}

std::optional<EntryLine> readEntryLine(LogStyle style, std::string_view line, const TextLogReader::ZoneOffset& offsetAt,
                                       std::optional<Date> previous = std::nullopt, SteadyOffset* steady = nullptr)
{
    std::optional<EntryLine> entry(std::in_place);
    if (readColumns(style, line, *entry))
        placeInZone(*entry, offsetAt, previous, steady);
    else
        entry.reset();
    return entry;
}

// "brian@Mac ~ % log show …", "❯ sudo /usr/bin/log stream …": the command that made the capture.
bool isShellCommand(std::string_view line)
{
    for (const std::string_view command : {"log show", "log stream"}) {
        const std::size_t at = line.find(command);
        if (at == std::string_view::npos)
            continue;
        std::string_view prompt = line.substr(0, at);
        if (prompt.ends_with('/'))
            prompt = prompt.substr(0, prompt.find_last_of(" \t") + 1);
        prompt = trimmedEnd(prompt);
        if (prompt.ends_with("sudo"))
            prompt = trimmedEnd(prompt.substr(0, prompt.size() - 4));
        if (prompt.empty() || prompt.ends_with("\u276F") ||
            std::string_view("%$#>").find(prompt.back()) != std::string_view::npos)
            return true;
    }
    return false;
}

// A code fence or a signature separator: text around the log, as a forum post or a mail puts it.
bool isPostMarker(std::string_view line)
{
    const std::string_view text = trimmedStart(line);
    return text.starts_with("```") || text.starts_with("~~~") || trimmedEnd(line) == "--";
}

// A message line after which the message plainly goes on: it opens a structure or a value.
bool leavesOpen(std::string_view line)
{
    line = trimmedEnd(line);
    if (line.empty())
        return false;
    switch (line.back()) {
    case '{':
    case '(':
    case '[':
    case '=':
    case ':':
        return true;
    default:
        return false;
    }
}

bool endsTheEntries(std::string_view line)
{
    constexpr std::size_t kSummaryRule = 20;
    const bool rule = line.size() >= kSummaryRule && std::ranges::all_of(line, [](char c) { return c == '-'; });
    return rule || line.starts_with("^C") || isShellCommand(line);
}

// What the tool prints before the entries: "Filtering the log data using …",
// and the column titles "Timestamp   Thread  Type …", "Timestamp   Ty Process[PID:TID]".
bool isHeader(std::string_view line)
{
    constexpr std::string_view kTitle = "Timestamp";
    if (line.starts_with("Filtering the log data"))
        return true;
    const std::string_view rest = line.substr(std::min(line.size(), kTitle.size()));
    return line.starts_with(kTitle) && (rest.starts_with('\t') || rest.starts_with("  ")) &&
           !trimmedStart(rest).empty();
}

// "[{", "[]" or "[" alone open the JSON style's array (and "[user@host ~]$"
// does not); {" opens an ndjson object.
std::optional<LogStyle> jsonOpening(std::string_view head, bool lineComplete)
{
    if (head == "[{" || head == "[]" || (head == "[" && lineComplete))
        return LogStyle::Json;
    if (head == "{\"")
        return LogStyle::Ndjson;
    return std::nullopt;
}

// One line of the ndjson style, rather than JSON that a message holds.
bool isNdjsonEntry(std::string_view line)
{
    return line.starts_with("{\"") && line.find("\"timestamp\"") != std::string_view::npos &&
           line.find("\"eventMessage\"") != std::string_view::npos;
}

bool isEntryLine(std::string_view line)
{
    constexpr auto kNoZone = [](Date) { return 0L; };
    constexpr std::array kStyles{LogStyle::Default, LogStyle::Syslog, LogStyle::Compact, LogStyle::Console};
    return std::ranges::any_of(kStyles,
                               [&](LogStyle style) { return readEntryLine(style, line, kNoZone).has_value(); });
}

} // namespace

// At most this many characters of a line are quoted back.
constexpr std::size_t kQuotedCharacters = 60;

std::string quotable(std::string_view line)
{
    constexpr std::size_t kLongestCharacter = 4;
    std::string valid;
    appendValidUtf8(valid, line.substr(0, kLongestCharacter * kQuotedCharacters));
    std::string quoted;
    std::string_view rest = valid;
    for (std::size_t characters = 0; !rest.empty(); ++characters) {
        if (characters == kQuotedCharacters)
            return quoted + "\u2026";
        const std::string_view character = rest.substr(0, decodeUtf8(rest).length);
        const auto lead = static_cast<unsigned char>(character[0]);
        const bool control = lead < 0x20 || lead == 0x7F || (lead == 0xC2 && character < "\u00A0");
        quoted.append(lead == '\t' ? " " : control ? "\uFFFD" : character);
        rest.remove_prefix(character.size());
    }
    return line.size() > kLongestCharacter * kQuotedCharacters ? quoted + "\u2026" : quoted;
}

bool looksLikeText(std::string_view line)
{
    const bool control = std::ranges::any_of(line, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\f' && c != '\x1b' && c != '\r') || byte == 0x7F;
    });
    if (control)
        return false;
    // Text in another encoding (Latin-1) has a few bytes that are not UTF-8, binary data mostly such.
    std::size_t foreign = 0;
    for (std::string_view rest = line; !rest.empty();) {
        const std::size_t length = decodeUtf8(rest).length;
        foreign += length == 0 ? 1 : 0;
        rest.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return foreign * 4 <= line.size();
}

bool beginsCapture(std::string_view line)
{
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    const std::string_view text = trimmedStart(line);
    std::string head;
    for (std::size_t i = 0; i < text.size() && head.size() < 2; ++i) {
        if (!isBlank(text[i]))
            head += text[i];
    }
    return jsonOpening(head, true) == LogStyle::Json || isShellCommand(text) || isHeader(text) || isEntryLine(line);
}

void appendValidUtf8(std::string& out, std::string_view bytes)
{
    if (simdjson::validate_utf8(bytes.data(), bytes.size())) {
        out.append(bytes);
        return;
    }
    while (!bytes.empty()) {
        const std::size_t length = decodeUtf8(bytes).length;
        if (length == 0) {
            out.append("\uFFFD");
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
}

std::string_view styleName(LogStyle style)
{
    static constexpr std::string_view kNames[] = {"default", "syslog", "compact", "json", "ndjson", "console"};
    return kNames[static_cast<int>(style)];
}

// An entry line as places in it, small: each goes from the thread that read it to the reader's.
struct PreparedLines::Line {
    std::uint32_t offset = 0; // in the piece
    std::uint32_t size = 0;   // without its line end
    std::uint16_t timestampSize = 0, subsystemAt = 0, subsystemSize = 0, messageAt = 0;
    bool local = false; // the compact style's time, still to be placed in the zone
    std::uint16_t millis = 0;
    std::int64_t seconds = 0; // of `local`
    double time = 0;          // otherwise
};

namespace {

// Into `read`, the places of the line's entry in it; false when they do not fit or its timestamp does not stand in
// it as it is. Filled in place, as readColumns is.
bool placesIn(std::string_view line, const EntryLine& entry, std::size_t offset, PreparedLines::Line& read)
{
    constexpr std::size_t kFarthest = std::numeric_limits<std::uint16_t>::max();
    const auto at = [&](std::string_view part) { return static_cast<std::size_t>(part.data() - line.data()); };
    if (!entry.madeTimestamp.empty() || (!entry.time && !entry.local) || line.size() > kFarthest ||
        entry.lineTimestamp.data() != line.data() || at(entry.message) + entry.message.size() != line.size() ||
        offset > std::numeric_limits<std::uint32_t>::max())
        return false;
    read.offset = static_cast<std::uint32_t>(offset);
    read.size = static_cast<std::uint32_t>(line.size());
    read.timestampSize = static_cast<std::uint16_t>(entry.lineTimestamp.size());
    read.subsystemAt = static_cast<std::uint16_t>(entry.subsystem.empty() ? 0 : at(entry.subsystem));
    read.subsystemSize = static_cast<std::uint16_t>(entry.subsystem.size());
    read.messageAt = static_cast<std::uint16_t>(at(entry.message));
    read.local = entry.local.has_value();
    if (entry.local) {
        read.seconds = entry.local->seconds;
        read.millis = static_cast<std::uint16_t>(entry.local->millis);
    } else {
        read.time = entry.time->sinceEpoch;
    }
    return true;
}

// Into `entry`, fresh, the entry that placesIn() gave the places of, the compact style's time not yet in the zone.
void entryFrom(std::string_view line, const PreparedLines::Line& read, EntryLine& entry)
{
    entry.lineTimestamp = line.substr(0, read.timestampSize);
    entry.subsystem = line.substr(read.subsystemAt, read.subsystemSize);
    entry.message = line.substr(read.messageAt);
    if (read.local)
        entry.local = LocalLogTime{read.seconds, read.millis};
    else
        entry.time = Date{read.time};
}

} // namespace

PreparedLines::PreparedLines() = default;
PreparedLines::~PreparedLines() = default;

void PreparedLines::read(std::string_view bytes, std::optional<LogStyle> style, const std::atomic<bool>* enough)
{
    constexpr std::size_t kLinesBetweenLooks = 64;
    bytes_ = bytes;
    style_ = style;
    lines_.clear();
    next_ = 0;
    if (!style || *style == LogStyle::Json || *style == LogStyle::Ndjson)
        return;
    // A line that the piece cuts off is joined to its end in the reader, elsewhere.
    std::size_t count = 0;
    for (std::size_t at = 0, end = bytes.find('\n'); end != std::string_view::npos;
         at = end + 1, end = bytes.find('\n', at)) {
        if (++count % kLinesBetweenLooks == 0 && enough && *enough)
            return;
        std::string_view line = bytes.substr(at, end - at);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        EntryLine entry;
        if (readColumns(*style, line, entry) && !placesIn(line, entry, at, lines_.emplace_back()))
            lines_.pop_back();
    }
}

const PreparedLines::Line* PreparedLines::find(std::string_view line, LogStyle style)
{
    const auto at = reinterpret_cast<std::uintptr_t>(line.data()),
               start = reinterpret_cast<std::uintptr_t>(bytes_.data());
    if (style != style_ || at < start || at - start >= bytes_.size())
        return nullptr;
    const std::size_t offset = at - start;
    while (next_ < lines_.size() && lines_[next_].offset < offset)
        ++next_;
    if (next_ == lines_.size() || lines_[next_].offset != offset || lines_[next_].size != line.size())
        return nullptr;
    return &lines_[next_];
}

TextLogReader::TextLogReader(Sink sink, ZoneOffset zoneOffset, std::uint64_t linesBefore, WantsSubsystem wants)
    : sink_(std::move(sink)), zoneOffset_(std::move(zoneOffset)), wants_(std::move(wants)), lineNumber_(linesBefore)
{
}

std::size_t TextLogReader::feed(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size() && !stopped()) {
        const std::size_t end = bytes.find('\n', at);
        const std::string_view piece = bytes.substr(at, end == std::string_view::npos ? end : end - at);
        noteHead(piece);
        if (stopsAtJson(end != std::string_view::npos))
            return at;
        if (end == std::string_view::npos) {
            partialLine_.append(piece);
            if (partialLine_.size() + message_.size() > kMaximumEntryBytes)
                error_ = "line " + std::to_string(lineNumber_ + 1) + " is too long for a log entry";
            return bytes.size();
        }
        if (partialLine_.empty()) {
            readLine(piece, true);
        } else {
            const std::size_t earlier = partialLine_.size();
            partialLine_.append(piece);
            readLine(partialLine_, true);
            partialLine_.resize(handsOver_ ? earlier : 0);
        }
        if (handsOver_)
            return at;
        headSize_ = 0;
        at = end + 1;
    }
    return at;
}

void TextLogReader::finish()
{
    if (stopped() || stopsAtJson(true))
        return;
    if (!partialLine_.empty())
        readLine(partialLine_, false);
    if (!handsOver_)
        partialLine_.clear();
    flushEntry();
}

// A line whose start opens JSON ends the reading before it: before the first
// entry it gives the style; after it, it begins the next capture. An ndjson
// line does so only when the whole of it shows an entry (readLine).
bool TextLogReader::stopsAtJson(bool lineComplete)
{
    const std::string_view head(head_.data(), headSize_);
    if (!head.starts_with('[') && !head.starts_with('{'))
        return false;
    // After an entry, "{" alone is a line of its message.
    const bool objects = !sawEntry_ && lineComplete && head == "{";
    const auto opened = objects ? LogStyle::Json : jsonOpening(head, lineComplete);
    if (!opened || (sawEntry_ && *opened == LogStyle::Ndjson))
        return false;
    if (sawEntry_) {
        flushEntry();
        handsOver_ = true;
    } else {
        style_ = opened;
        opensObjects_ = objects;
        linesPassedOver_ = lineNumber_;
    }
    return true;
}

void TextLogReader::noteHead(std::string_view piece)
{
    for (std::size_t i = 0; i < piece.size() && headSize_ < head_.size(); ++i) {
        if (!isBlank(piece[i]) && piece[i] != '\r')
            head_[headSize_++] = piece[i];
    }
}

void TextLogReader::readLine(std::string_view line, bool complete)
{
    ++lineNumber_;
    if (line.ends_with('\r'))
        line.remove_suffix(1);

    if (!sawEntry_) {
        for (const LogStyle style : {LogStyle::Default, LogStyle::Syslog, LogStyle::Compact, LogStyle::Console}) {
            if (readEntryLine(style, line, zoneOffset_)) {
                style_ = style;
                linesPassedOver_ = lineNumber_ - 1;
                break;
            }
        }
        if (!style_) {
            if (const auto row = readConsoleRow(line); row && consoleRefusal_.empty())
                consoleRefusal_ = whyConsoleRowFails(*row);
            if (!trimmedStart(line).empty()) {
                ++linesWithText_;
                if (firstOtherLine_.empty() && !firstOtherLineBinary_) {
                    firstOtherLineBinary_ = !looksLikeText(line);
                    if (!firstOtherLineBinary_)
                        firstOtherLine_ = quotable(trimmedStart(line));
                }
            }
            return;
        }
    }
    const auto startEntry = [this](const EntryLine& entry) {
        flushEntry();
        previousTime_ = entry.time;
        time_ = entry.time;
        timestamp_.clear();
        subsystem_.clear();
        message_.clear();
        textsWanted_ = !wants_ || wants_(entry.subsystem);
        if (textsWanted_) {
            timestamp_ = entry.timestamp();
            if (entry.offset)
                appendOffset(timestamp_, *entry.offset);
            appendValidUtf8(subsystem_, entry.subsystem);
            appendValidUtf8(message_, entry.message);
        }
        leftOpen_ = leavesOpen(entry.message);
        sawEntry_ = inEntry_ = true;
    };
    // A wrap whose break's blanks were stripped can cut an entry's first line before its message: the
    // dated line that read as none is one with this line after a blank.
    if (!brokenLine_.empty()) {
        const std::string joined = brokenLine_ + ' ' + std::string(trimmedStart(line));
        if (auto entry = readEntryLine(*style_, joined, zoneOffset_, previousTime_, &steady_)) {
            brokenLine_.clear();
            startEntry(*entry);
            return;
        }
    }
    // Read on the reading thread, or here.
    EntryLine entry;
    const PreparedLines::Line* read = prepared_ ? prepared_->find(line, *style_) : nullptr;
    if (read)
        entryFrom(line, *read, entry);
    if (read || readColumns(*style_, line, entry)) {
        placeInZone(entry, zoneOffset_, previousTime_, &steady_);
        startEntry(entry);
        return;
    }
    if (!brokenLine_.empty())
        appendLine(std::exchange(brokenLine_, {}));
    const std::string_view text = trimmedStart(line);
    if (text.empty()) {
        if (inEntry_)
            ++pendingBlankLines_;
        return;
    }
    // A message's own line follows the one before, is indented, or continues a line left open; after a
    // blank line, unindented prose is a post's or a mail's own text.
    const bool prose = pendingBlankLines_ > 0 && !isBlank(line.front()) && !leftOpen_;
    // The end of this run of the tool, or the start of another: the next capture reads from this line on.
    if (endsTheEntries(text) || isHeader(text) || isEntryLine(line) || isNdjsonEntry(text) || isPostMarker(line) ||
        prose) {
        --lineNumber_;
        flushEntry();
        handsOver_ = true;
        return;
    }
    // An entry's first line cut off before its message holds nothing to read.
    if (!complete && startsWithDate(line))
        return;
    if (startsWithDate(line) && inEntry_) {
        brokenLine_ = line;
        return;
    }
    appendLine(line);
}

void TextLogReader::appendLine(std::string_view line)
{
    if (!textsWanted_) {
        pendingBlankLines_ = 0;
        leftOpen_ = leavesOpen(line);
        return;
    }
    if (message_.size() + pendingBlankLines_ + line.size() > kMaximumEntryBytes) {
        error_ = "line " + std::to_string(lineNumber_) + " is too long for a log entry";
        return;
    }
    message_.append(pendingBlankLines_ + 1, '\n');
    pendingBlankLines_ = 0;
    appendValidUtf8(message_, line);
    leftOpen_ = leavesOpen(line);
}

void TextLogReader::flushEntry()
{
    if (!brokenLine_.empty())
        appendLine(std::exchange(brokenLine_, {}));
    if (inEntry_)
        sink_(LogEntry{timestamp_, message_, subsystem_, time_});
    inEntry_ = false;
    pendingBlankLines_ = 0;
}

} // namespace quillfen
