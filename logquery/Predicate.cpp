#include "logquery/Predicate.h"

#include <algorithm>
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

bool containsIgnoringCase(std::string_view haystack, std::string_view needle)
{
    const auto found = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), sameIgnoringCase);
    return needle.empty() || found != haystack.end();
}

struct Token {
    std::string text;
    bool quoted = false;
};

// Words split at blanks and parentheses, parentheses, and double-quoted strings with backslash escapes.
// None when a string is left open.
std::optional<std::vector<Token>> tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '(' || text[i] == ')') {
            tokens.push_back({.text = std::string(1, text[i++])});
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

} // namespace

bool Predicate::selects(std::string_view entrySubsystem, std::string_view message) const
{
    return entrySubsystem == subsystem &&
           (messageContains.empty() || std::ranges::any_of(messageContains, [message](const std::string& part) {
                return containsIgnoringCase(message, part);
            }));
}

std::optional<Predicate> parsePredicate(std::string_view text)
{
    const auto tokens = tokenize(text);
    if (!tokens || tokens->size() < 3)
        return std::nullopt;
    const auto& t = *tokens;
    if (!isKeyPath(t[0], "subsystem") || !isKeyword(t[1], "==") || !t[2].quoted)
        return std::nullopt;
    Predicate predicate{.subsystem = t[2].text, .messageContains = {}};
    if (t.size() == 3)
        return predicate;
    if (t.size() < 7 || !isKeyword(t[3], "AND"))
        return std::nullopt;
    // One containment, or several joined by OR inside parentheses.
    const bool grouped = isKeyPath(t[4], "(") && isKeyPath(t.back(), ")");
    const std::size_t end = grouped ? t.size() - 1 : t.size();
    for (std::size_t i = grouped ? 5 : 4;; i += 4) {
        if (end - i < 3 || !isKeyPath(t[i], "eventMessage") || !isKeyword(t[i + 1], "CONTAINS[c]") || !t[i + 2].quoted)
            return std::nullopt;
        predicate.messageContains.push_back(t[i + 2].text);
        if (i + 3 == end)
            break;
        if (!grouped || !isKeyword(t[i + 3], "OR"))
            return std::nullopt;
    }
    return predicate;
}

} // namespace quillfen
