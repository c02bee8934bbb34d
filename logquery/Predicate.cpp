#include "logquery/Predicate.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

namespace quillfen {
namespace {

bool sameIgnoringCase(char a, char b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameIgnoringCase);
}

// Candidates are found by their first character in either case with memchr, each case's next
// place kept until it is passed, so the cost stays linear.
bool containsIgnoringCase(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    if (needle.size() > haystack.size())
        return false;
    const char first = needle.front();
    const char lower = first >= 'A' && first <= 'Z' ? char(first - 'A' + 'a') : first;
    const char upper = lower >= 'a' && lower <= 'z' ? char(lower - 'a' + 'A') : lower;
    const std::size_t last = haystack.size() - needle.size() + 1; // candidates lie before it
    const auto next = [&](char c, std::size_t from) {
        const void* at = std::memchr(haystack.data() + from, c, last - from);
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - haystack.data()) : last;
    };
    std::size_t nextLower = next(lower, 0);
    std::size_t nextUpper = upper == lower ? last : next(upper, 0);
    while (true) {
        const std::size_t at = std::min(nextLower, nextUpper);
        if (at >= last)
            return false;
        if (equalsIgnoringCase(haystack.substr(at + 1, needle.size() - 1), needle.substr(1)))
            return true;
        if (at == nextLower)
            nextLower = at + 1 < last ? next(lower, at + 1) : last;
        else
            nextUpper = at + 1 < last ? next(upper, at + 1) : last;
    }
}

struct Token {
    std::string text;
    bool quoted = false;
};

// Words split at blanks, parentheses on their own, and double-quoted strings
// with backslash escapes. None when a string is left open.
std::optional<std::vector<Token>> tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '"') {
            Token token{.text = {}, .quoted = true};
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && ++i == text.size())
                    break;
                token.text += text[i];
            }
            if (i == text.size())
                return std::nullopt;
            ++i;
            tokens.push_back(std::move(token));
        } else if (text[i] == '(' || text[i] == ')') {
            tokens.push_back({.text = std::string(1, text[i++])});
        } else {
            const std::size_t end = std::min(text.find_first_of(" \"()", i), text.size());
            tokens.push_back({.text = std::string(text.substr(i, end - i))});
            i = end;
        }
    }
    return tokens;
}

// Key paths are case-sensitive, keywords are not, as in the real predicate language.
bool isKeyPath(const Token& token, std::string_view name)
{
    return !token.quoted && token.text == name;
}
bool isKeyword(const Token& token, std::string_view name)
{
    return !token.quoted && equalsIgnoringCase(token.text, name);
}

// subsystem == "X" followed by any number of AND eventMessage CONTAINS[c] "Y".
std::optional<Predicate::Clause> parseClause(std::span<const Token> t)
{
    if (t.size() < 3 || !isKeyPath(t[0], "subsystem") || !isKeyword(t[1], "==") || !t[2].quoted)
        return std::nullopt;
    Predicate::Clause clause{.subsystem = t[2].text, .messageContains = {}};
    for (t = t.subspan(3); !t.empty(); t = t.subspan(4)) {
        if (t.size() < 4 || !isKeyword(t[0], "AND") || !isKeyPath(t[1], "eventMessage") ||
            !isKeyword(t[2], "CONTAINS[c]") || !t[3].quoted) {
            return std::nullopt;
        }
        clause.messageContains.push_back(t[3].text);
    }
    return clause;
}

bool isParenthesis(const Token& token, char which)
{
    return !token.quoted && token.text.size() == 1 && token.text[0] == which;
}

} // namespace

bool Predicate::selects(std::string_view entrySubsystem, std::string_view message) const
{
    return std::ranges::any_of(anyOf, [&](const Clause& clause) {
        return entrySubsystem == clause.subsystem &&
               std::ranges::all_of(clause.messageContains,
                                   [&](const std::string& text) { return containsIgnoringCase(message, text); });
    });
}

bool Predicate::asksAbout(std::string_view entrySubsystem) const
{
    return std::ranges::any_of(anyOf, [&](const Clause& clause) { return clause.subsystem == entrySubsystem; });
}

bool Predicate::readsMessage() const
{
    return std::ranges::any_of(anyOf, [](const Clause& clause) { return !clause.messageContains.empty(); });
}

std::optional<Predicate> parsePredicate(std::string_view text)
{
    const auto tokens = tokenize(text);
    if (!tokens)
        return std::nullopt;
    const std::span<const Token> t = *tokens;
    Predicate predicate;
    if (t.empty() || !isParenthesis(t[0], '(')) {
        auto clause = parseClause(t);
        if (!clause)
            return std::nullopt;
        predicate.anyOf.push_back(std::move(*clause));
        return predicate;
    }
    // (clause) OR (clause) …, without nesting.
    for (std::size_t i = 0; i < t.size();) {
        if (!predicate.anyOf.empty() && !isKeyword(t[i++], "OR"))
            return std::nullopt;
        if (i == t.size() || !isParenthesis(t[i], '('))
            return std::nullopt;
        std::size_t end = i + 1;
        while (end < t.size() && !isParenthesis(t[end], '(') && !isParenthesis(t[end], ')'))
            ++end;
        if (end == t.size() || !isParenthesis(t[end], ')'))
            return std::nullopt;
        auto clause = parseClause(t.subspan(i + 1, end - i - 1));
        if (!clause)
            return std::nullopt;
        predicate.anyOf.push_back(std::move(*clause));
        i = end + 1;
    }
    return predicate;
}

} // namespace quillfen
