#include "logquery/HardWrap.h"

#include <algorithm>
#include <vector>

namespace quillfen {

namespace {

// Mail clients wrap at 72 to 80 columns, terminals at their width; wider than this is no wrap.
constexpr std::size_t kNarrowestWrap = 40;
constexpr std::size_t kWidestWrap = 240;
// Fewer breaks than this show no wrap.
constexpr std::size_t kLeastBreaks = 3;
// Mail clients wrap no wider; the default style's columns alone are wider.
constexpr std::size_t kMailWrap = 80;
// How every text style begins an entry; a backup's name ("2023-02-17-190400") is no date and time.
constexpr std::string_view kDateShape = "0000-00-00 00:00";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The column after `text` written from `column`: characters, not bytes, and a tab to the next
// multiple of eight, as `fold` and terminals count.
std::size_t advance(std::size_t column, std::string_view text)
{
    for (const char c : text) {
        if (c == '\t')
            column = (column / 8 + 1) * 8;
        else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != '\r')
            ++column;
    }
    return column;
}

bool startsWithDate(std::string_view line)
{
    if (line.size() < kDateShape.size())
        return false;
    for (std::size_t i = 0; i < kDateShape.size(); ++i) {
        if (kDateShape[i] != '0' ? line[i] != kDateShape[i] : line[i] < '0' || line[i] > '9')
            return false;
    }
    return true;
}

// A line that a wrap may have broken off the one before.
bool continues(std::string_view line)
{
    return std::ranges::any_of(line, [](char c) { return !isBlank(c) && c != '\r'; }) && !startsWithDate(line);
}

// The width of a line's first word, with the blanks before it.
std::size_t firstWordWidth(std::string_view line)
{
    const std::size_t start = std::min(line.find_first_not_of(" \t"), line.size());
    return advance(0, line.substr(0, std::min(line.find_first_of(" \t", start), line.size())));
}

enum class Break { None, Clean, Lost };

std::string refusalAt(std::size_t width)
{
    const std::string columns = std::to_string(width);
    return "it looks hard-wrapped at " + columns + " columns (lines of at most " + columns +
           " characters, entries broken across lines); save it again without wrapping";
}

// Whether a line `width` wide was broken off `next` at the margin `wrap`: by
// `fold` at the margin, or after a blank because the next word did not fit;
// or so, with the blank dropped since, which leaves the break ambiguous.
Break breakBefore(std::size_t width, bool endsInBlank, std::string_view next, std::size_t wrap)
{
    // A line led by a tab is a message's own next line, as the log indents them.
    if (!continues(next) || next.starts_with('\t'))
        return Break::None;
    // `fold -s` breaks when the character after the next word, a blank, would pass the margin.
    if (width == wrap || (endsInBlank && width < wrap && width + firstWordWidth(next) >= wrap))
        return Break::Clean;
    if (!endsInBlank && width < wrap && width + 1 + firstWordWidth(next) >= wrap)
        return Break::Lost;
    return Break::None;
}

} // namespace

HardWrap::HardWrap(Output output) : output_(std::move(output)) {}

void HardWrap::feed(std::string_view bytes)
{
    while (phase_ == Phase::Probing && !bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end == std::string_view::npos ? bytes.size() : end + 1);
        probe_.append(piece);
        bytes.remove_prefix(piece.size());
        probeWidth_ = advance(probeWidth_, piece.substr(0, end == std::string_view::npos ? piece.size() : end));
        if (probeWidth_ > kWidestWrap) {
            phase_ = Phase::Passing;
            output_(probe_);
            probe_ = {};
        } else if (end != std::string_view::npos) {
            probeWidth_ = 0;
            if (probe_.size() >= kProbeBytes)
                decide();
        }
    }
    if (phase_ == Phase::Passing)
        output_(bytes);
    else if (phase_ == Phase::Joining)
        join(bytes);
}

std::optional<std::string> HardWrap::narrowRefusal() const
{
    if (phase_ != Phase::Passing || narrowWidth_ == 0)
        return std::nullopt;
    return refusalAt(narrowWidth_);
}

void HardWrap::finish()
{
    if (phase_ == Phase::Probing)
        decide();
    if (phase_ == Phase::Joining && deciding_)
        resolve();
}

void HardWrap::decide()
{
    std::vector<std::string_view> lines;
    for (std::string_view rest = probe_; !rest.empty();) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        lines.push_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    std::size_t width = 0;
    for (const std::string_view line : lines)
        width = std::max(width, advance(0, line));
    // Of the lines that a continuation follows: those broken cleanly, and those that may have lost a blank.
    std::size_t continuations = 0, clean = 0, lost = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        // A message's own lines may be indented; an entry's first line broken in its columns is not.
        if (!continues(lines[i + 1]) || (isBlank(lines[i + 1].front()) && !startsWithDate(lines[i])))
            continue;
        ++continuations;
        std::string_view line = lines[i];
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const Break kind = breakBefore(advance(0, line), !line.empty() && isBlank(line.back()), lines[i + 1], width);
        clean += kind == Break::Clean;
        lost += kind == Break::Lost;
    }
    const std::size_t breaks = clean + lost;
    // Only the text styles begin their entries with a date; JSON's lines are no wrapped entries.
    const auto dated = static_cast<std::size_t>(std::ranges::count_if(lines, startsWithDate));
    if (width < kNarrowestWrap || breaks < kLeastBreaks || dated < kLeastBreaks || breaks * 4 < continuations * 3) {
        phase_ = Phase::Passing;
        if (width >= kNarrowestWrap && width <= kMailWrap && dated >= kLeastBreaks)
            narrowWidth_ = width;
        output_(probe_);
    } else if (lost * 4 > breaks) {
        phase_ = Phase::Refused;
        refusal_ = refusalAt(width);
    } else {
        phase_ = Phase::Joining;
        width_ = width;
        join(probe_);
    }
    probe_ = {};
}

void HardWrap::join(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (deciding_) {
            // Enough of the next line to see its first word, and whether it begins with a date and time.
            const auto known = [&] {
                return head_.size() >= 4 * kWidestWrap || (headWordEnded_ && head_.size() >= kDateShape.size());
            };
            while (!bytes.empty() && bytes.front() != '\n' && !known()) {
                headWordEnded_ = headInk_ && isBlank(bytes.front());
                headInk_ = headInk_ || !(isBlank(bytes.front()) || bytes.front() == '\r');
                head_ += bytes.front();
                bytes.remove_prefix(1);
            }
            if (!known() && bytes.empty())
                return;
            resolve();
            continue;
        }
        const std::size_t end = bytes.find('\n');
        content(bytes.substr(0, end));
        if (end == std::string_view::npos)
            return;
        endLine();
        bytes.remove_prefix(end + 1);
    }
}

void HardWrap::content(std::string_view text)
{
    if (text.empty())
        return;
    if (carriageReturn_)
        output_("\r");
    carriageReturn_ = text.ends_with('\r');
    if (carriageReturn_)
        text.remove_suffix(1);
    lineWidth_ = advance(lineWidth_, text);
    if (!text.empty())
        lastCharacter_ = text.back();
    output_(text);
}

// A line that may reach the margin holds its line feed back until the next line shows whether it continues.
void HardWrap::endLine()
{
    carriageReturn_ = false;
    ended_ = {lineWidth_, isBlank(lastCharacter_)};
    lineWidth_ = 0;
    lastCharacter_ = 0;
    if (ended_.width == width_ || ended_.inBlank)
        deciding_ = true;
    else
        output_("\n");
}

void HardWrap::resolve()
{
    deciding_ = headInk_ = headWordEnded_ = false;
    if (breakBefore(ended_.width, ended_.inBlank, head_, width_) != Break::Clean)
        output_("\n");
    const std::string head = std::move(head_);
    head_.clear();
    content(head);
}

} // namespace quillfen
