#pragma once

#include "logquery/LogDecoder.h"
#include "platform/Date.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The styles `log show` and `log stream` print, as `--style` names them.
// Console: rows that Console's Copy gives, tab-separated columns as the window shows them.
enum class LogStyle { Default, Syslog, Compact, Json, Ndjson, Console };
std::string_view styleName(LogStyle style);

// The compact style's offset over four days in which it does not change: local times in the
// middle two need not ask the zone again.
struct SteadyOffset {
    double from = 0, to = -1;
    long offset = 0;
};

// The entry lines of a piece of a text log, read on another thread before a
// TextLogReader comes to them (a file's next piece, while the reader is at
// work on this one). The reader takes what was read of a line it is given at
// the same place of the same piece, and reads any other line itself: a line
// joined, unquoted or decoded lies elsewhere. The piece must not change while
// a reader is given these. Each on a cache line of its own: one is written on
// one thread while another is read on another.
class alignas(64) PreparedLines {
public:
    PreparedLines();
    ~PreparedLines();
    PreparedLines(const PreparedLines&) = delete;
    PreparedLines& operator=(const PreparedLines&) = delete;

    // Reads the whole lines of `bytes` as entry lines of `style` (of none before a text style is known), in order
    // until `enough`, when given, turns true.
    void read(std::string_view bytes, std::optional<LogStyle> style, const std::atomic<bool>* enough = nullptr);

    struct Line; // what read() made of one line

private:
    friend class TextLogReader;
    // What read() made of `line`, given in order; none when it is no line read so or did not read as an entry.
    const Line* find(std::string_view line, LogStyle style);

    std::string_view bytes_;
    std::optional<LogStyle> style_;
    std::vector<Line> lines_; // the lines that read as entries, in order
    std::size_t next_ = 0;    // where find() goes on
};

// Reads the text styles that `log show` and `log stream` print, from bytes
// handed over in pieces of any size:
//
//   default  2023-02-17 19:12:13.456317-0800 0x14e3a98  Info  0x0  23864  0    backupd: (TimeMachine)
//            [com.apple.TimeMachine:General] text
//   syslog   2023-02-17 19:12:13.456317-0800  localhost backupd[23864]: (TimeMachine) [com.apple.TimeMachine:General]
//   text compact  2023-02-17 19:12:13.456 I  backupd[23864:14e3a98] [com.apple.TimeMachine:General] text
//   Console  Default<tab>2023-02-17 19:12:13.456317-0800<tab>backupd<tab>com.apple.TimeMachine<tab>text
//
// (macOS 10.12's default style has no TTL column after the PID.)
//
// One reader reads one capture (one run of the tool). Its first entry fixes
// the style. Whatever comes before it is passed over (prompts, the command,
// banners, column titles), unless a line there opens the JSON or ndjson
// style: then the reader stops at that line. After the first entry, lines
// that do not start an entry continue the message of the entry before,
// joined by a line feed; blank lines count only between two such lines. A
// line that ends the capture or begins another one stops the reader there
// (handsOver()): a code fence ("```"), a signature separator ("-- "), after
// a blank line one that is neither indented nor follows a line ending in one
// of "{([=:" (the prose of a post or mail), a line of dashes (the closing summary), "^C", a shell command
// running the tool, the tool's header lines, an entry line of another text
// style, a line that opens JSON, or an ndjson entry.
// Carriage returns at line ends are dropped and bytes that are not UTF-8
// become U+FFFD. The compact style's times have no offset: they are read in
// the zone that `zoneOffset` describes, an hour that the zone repeats in the
// order of the entries.
//
// Each entry goes to the sink when the next one starts or the input ends; its
// texts live until the sink returns. Only the current line and entry are held.
class TextLogReader {
public:
    using Sink = std::function<void(const LogEntry&)>;
    // Seconds east of UTC at an instant.
    using ZoneOffset = std::function<long(Date)>;
    // Whether the texts of a subsystem's entries are wanted; none: every entry's are.
    using WantsSubsystem = std::function<bool(std::string_view subsystem)>;

    // A line or entry beyond this is not a log's; the reader stops there.
    static constexpr std::size_t kMaximumEntryBytes = 16 * 1024 * 1024;

    // `linesBefore`: lines of the input that came before, for the numbers in messages. An entry of a
    // subsystem that `wants` turns down reaches the sink with its time alone: its timestamp's text and
    // message are not copied, however many lines it has, and a busy Mac's log of other subsystems reads faster.
    TextLogReader(Sink sink, ZoneOffset zoneOffset, std::uint64_t linesBefore = 0, WantsSubsystem wants = {});

    // Reads `bytes` and returns how many it took: all of them, unless a line
    // opens JSON or ends the capture, when held() followed by the rest is
    // the input that comes next.
    std::size_t feed(std::string_view bytes);
    // The input has ended: its last line counts even without a line feed,
    // unless it is an entry's first line cut off before its message.
    void finish();

    // Lines read ahead in the piece that feed() is given next, until another call; none: each line is read here.
    void readAhead(PreparedLines* lines) { prepared_ = lines; }

    // Why reading stopped ("line 3 is too long for a log entry"); nothing more is read then.
    const std::optional<std::string>& error() const { return error_; }
    // The style of the first entry, or the JSON style that a line opened; none yet.
    std::optional<LogStyle> style() const { return style_; }
    // That line, "{" alone, opened JSON objects one after another (as `jq '.[]'` prints an array's).
    bool opensObjects() const { return opensObjects_; }
    bool sawEntry() const { return sawEntry_; }
    // The capture ended before a line that held() followed by what was not taken begins.
    bool handsOver() const { return handsOver_; }
    // The start of the line that opened JSON or ended the capture, taken in earlier pieces.
    const std::string& held() const { return partialLine_; }
    // Lines read, not counting the one that ended the capture.
    std::uint64_t linesRead() const { return lineNumber_; }
    // Lines before the first entry, or before the line that opened JSON.
    std::uint64_t linesPassedOver() const { return linesPassedOver_; }
    // Lines before the first entry, or before the line that opened JSON, that are not blank.
    std::uint64_t linesWithText() const { return linesWithText_; }
    // The first line before the first entry that is not blank, shortened and
    // safe to show; empty when there is none.
    const std::string& firstOtherLine() const { return firstOtherLine_; }
    // That line holds what no text does (see looksLikeText).
    bool firstOtherLineBinary() const { return firstOtherLineBinary_; }
    // Why rows copied from Console before the first entry do not read (they lack the date); empty when none came.
    const std::string& consoleRefusal() const { return consoleRefusal_; }

private:
    void noteHead(std::string_view piece);
    bool stopsAtJson(bool lineComplete);
    void readLine(std::string_view line, bool complete);
    void appendLine(std::string_view line);
    void flushEntry();
    bool stopped() const { return error_ || (style_ && !sawEntry_) || handsOver_; }

    Sink sink_;
    ZoneOffset zoneOffset_;
    WantsSubsystem wants_;
    PreparedLines* prepared_ = nullptr;
    std::string partialLine_;
    std::array<char, 2> head_{}; // the first two characters of the line that are not blanks
    std::size_t headSize_ = 0;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t linesPassedOver_ = 0;
    std::uint64_t linesWithText_ = 0;
    std::string firstOtherLine_;
    bool firstOtherLineBinary_ = false;
    std::string consoleRefusal_;
    std::optional<LogStyle> style_;
    bool opensObjects_ = false;
    bool sawEntry_ = false;
    bool inEntry_ = false;
    bool textsWanted_ = true; // of the entry being read
    bool handsOver_ = false;
    std::size_t pendingBlankLines_ = 0;
    bool leftOpen_ = false;            // the message's last line ends in one of "{([=:"
    std::optional<Date> previousTime_; // of the last compact entry
    SteadyOffset steady_;
    std::string timestamp_;
    std::optional<Date> time_; // of the entry being read, when its style's reading gave it
    std::string subsystem_;
    std::string message_;
    std::string brokenLine_; // a dated line after an entry that read as none, until the next shows what it is
    std::optional<std::string> error_;
};

// A line that begins a capture in a text style or the JSON style: a shell
// command running the tool, the tool's header lines, an entry line of a text
// style, or the opening of a JSON array.
bool beginsCapture(std::string_view line);

// `line` shortened to 60 characters, as UTF-8 without control characters, which could steer a terminal;
// tabs become blanks.
std::string quotable(std::string_view line);

// False for a line that holds control characters other than tabs, form feeds and the
// terminal's escapes, or mostly bytes that are not UTF-8: a line of no text, which is not quoted back.
bool looksLikeText(std::string_view line);

// Appends `bytes`, each byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
void appendValidUtf8(std::string& out, std::string_view bytes);

} // namespace quillfen
