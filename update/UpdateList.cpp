#include "update/UpdateList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quillfen {

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// The decoder builds a tree and plist_free tears it down recursively, so a list nested deep
// enough overflows the stack; and the binary decoder copies an object once for every reference
// to it, so a few kilobytes can expand to gigabytes. Lists are therefore measured as the decoder
// would build them, and refused before it allocates anything.
constexpr std::size_t kMaxNesting = kMaxUpdateListNesting;
constexpr std::uint64_t kMaxObjects = kMaxUpdateListObjects;
// Payload bytes after expansion: strings, data and numbers, shared ones counted each time.
constexpr std::uint64_t kMaxExpandedBytes = 8 * kMaxUpdateListBytes;

constexpr std::string_view kBinarySignature = "bplist00";

enum class Shape { Within, OutOfBounds, Unreadable };

// The objects the decoder would create, each taken from the budget as it is created.
class ObjectBudget {
public:
    bool take(std::uint64_t payloadBytes = 0)
    {
        ++objects_;
        bytes_ += payloadBytes;
        return objects_ <= kMaxObjects && bytes_ <= kMaxExpandedBytes;
    }

private:
    std::uint64_t objects_ = 0;
    std::uint64_t bytes_ = 0;
};

// The XML form, read the way libplist's XML decoder reads it: the same scan for the end of a
// name (blank, '<' or '>'), which then stops at a NUL byte, so "<array\0x>" opens an array; the
// same skipping of quoted attribute text, comments, CDATA and document types; the same closing
// rules. Whatever it would reject is Unreadable here too, so nothing past a point the decoder
// would stop at is needed.
class XmlShape {
public:
    explicit XmlShape(std::string_view xml) : xml_(xml) {}

    Shape measure()
    {
        // The open elements, plist ones included, and apart from them the containers that enclose
        // the next object (an empty top-level container still receives what follows it).
        std::vector<std::string_view> open;
        std::vector<std::string_view> parents;
        bool haveRoot = false, haveKey = false, hasContent = false;
        while (skipBlanks(), !atEnd()) {
            if (xml_[at_] != '<' || ++at_ >= xml_.size())
                return Shape::Unreadable;
            if (xml_[at_] == '?') {
                if (!findText("?>", true))
                    return Shape::Unreadable;
                at_ += 2;
                continue;
            }
            if (xml_[at_] == '!') {
                if (!skipDeclaration())
                    return Shape::Unreadable;
                continue;
            }
            const std::size_t start = at_;
            findAny(" \r\n\t<>", false);
            if (atEnd())
                return Shape::Unreadable;
            const std::string_view written = xml_.substr(start, at_ - start);
            if (xml_[at_] != '>')
                findAny("<>", true);
            if (atEnd() || xml_[at_] != '>')
                return Shape::Unreadable;
            const bool empty = xml_[at_ - 1] == '/';
            const std::string_view name = cString(empty ? written.substr(0, at_ - start - 1) : written);
            ++at_;
            if (name == "plist") {
                hasContent = false;
                if (open.empty() && haveRoot)
                    return Shape::Within;
                if (empty)
                    return Shape::Unreadable;
                open.push_back(name);
                continue;
            }
            if (name == "/plist") {
                if (!hasContent || open.empty() || open.back() != "plist")
                    return Shape::Unreadable;
                open.pop_back();
                continue;
            }
            hasContent = true;
            if (name.starts_with('/')) {
                if (open.empty() || open.back() != name.substr(1))
                    return Shape::Unreadable;
                open.pop_back();
                parents.pop_back();
                if (parents.empty())
                    return Shape::Within;
                haveKey = false;
                continue;
            }
            const bool container = name == "array" || name == "dict";
            if (!container) {
                constexpr std::string_view kValues[] = {"integer", "real", "true", "false",
                                                        "string",  "key",  "data", "date"};
                if (std::ranges::find(kValues, name) == std::end(kValues))
                    return Shape::Unreadable;
                if (!empty && !skipText(written, name != "string" && name != "key"))
                    return Shape::Unreadable;
                if (name == "key" && !empty && !haveKey && !parents.empty() && parents.back() == "dict") {
                    haveKey = true;
                    continue;
                }
            }
            if (!budget_.take())
                return Shape::OutOfBounds;
            if (!haveRoot) {
                haveRoot = true;
                if (!container)
                    return Shape::Within;
                parents.push_back(name);
            } else if (parents.back() == "dict" && !haveKey) {
                return Shape::Unreadable;
            } else if (parents.size() + 1 > kMaxNesting && container) {
                return Shape::OutOfBounds;
            } else if (container && !empty) {
                parents.push_back(name);
            }
            if (container && !empty)
                open.push_back(name);
            haveKey = false;
        }
        return open.empty() ? Shape::Within : Shape::Unreadable;
    }

private:
    bool atEnd() const { return at_ >= xml_.size(); }

    // A name as the decoder keeps it: copied as a C string, so it ends at a NUL byte.
    static std::string_view cString(std::string_view text) { return text.substr(0, text.find('\0')); }

    void skipBlanks()
    {
        while (!atEnd() && std::string_view(" \t\r\n").find(xml_[at_]) != std::string_view::npos)
            ++at_;
    }

    void findChar(char c)
    {
        while (!atEnd() && xml_[at_] != c)
            ++at_;
    }

    // To the next of `chars`; with `skipQuotes`, not inside double-quoted text.
    void findAny(std::string_view chars, bool skipQuotes)
    {
        for (; !atEnd(); ++at_) {
            if (skipQuotes && xml_[at_] == '"') {
                ++at_;
                findChar('"');
                if (atEnd())
                    return;
            }
            if (chars.find(xml_[at_]) != std::string_view::npos)
                return;
        }
    }

    // To the next `text`, and whether it is there; the decoder's search stops one place short of
    // the end and leaves that place to the check that follows, which comes to the same.
    bool findText(std::string_view text, bool skipQuotes)
    {
        for (; at_ + text.size() < xml_.size(); ++at_) {
            if (xml_.substr(at_, text.size()) == text)
                break;
            if (skipQuotes && xml_[at_] == '"') {
                ++at_;
                findChar('"');
                if (atEnd())
                    return false;
            }
        }
        return at_ + text.size() <= xml_.size() && xml_.substr(at_, text.size()) == text;
    }

    // "<!" at the top level: a comment or a document type, its internal subset skipped whole.
    bool skipDeclaration()
    {
        const std::string_view rest = xml_.substr(at_);
        if (rest.size() > 3 && rest.starts_with("!--")) {
            at_ += 3;
            if (!findText("-->", false))
                return false;
            at_ += 3;
            return true;
        }
        if (rest.size() <= 8 || !rest.starts_with("!DOCTYPE"))
            return false;
        at_ += 8;
        while (!atEnd()) {
            findAny(" \t\r\n[>", true);
            if (atEnd())
                return false;
            if (xml_[at_] == '[') {
                if (!findText("]>", true))
                    return false;
                at_ += 2;
                return true;
            }
            if (xml_[at_] == '>') {
                ++at_;
                return true;
            }
            skipBlanks();
        }
        return true;
    }

    // A value's text up to its closing tag, which must repeat the opening one as written up to
    // its first NUL, comments and CDATA sections allowed inside.
    bool skipText(std::string_view written, bool skipLeadingBlanks)
    {
        if (skipLeadingBlanks)
            skipBlanks();
        for (;;) {
            findChar('<');
            if (atEnd() || ++at_ >= xml_.size())
                return false;
            if (xml_[at_] == '/')
                break;
            if (xml_[at_] != '!' || ++at_ + 1 >= xml_.size())
                return false;
            if (xml_.substr(at_).starts_with("--")) {
                at_ += 2;
                if (!findText("-->", false))
                    return false;
                at_ += 3;
            } else if (xml_[at_] == '[' && ++at_ + 8 < xml_.size() && xml_.substr(at_).starts_with("CDATA[")) {
                at_ += 6;
                if (!findText("]]>", false))
                    return false;
                at_ += 3;
            } else {
                return false;
            }
        }
        ++at_;
        const std::string_view name = cString(written);
        const std::string_view closing = xml_.substr(at_, written.size());
        if (at_ + written.size() >= xml_.size() || !closing.starts_with(name) ||
            (name.size() < written.size() && closing[name.size()] != '\0'))
            return false;
        at_ += written.size();
        skipBlanks();
        return !atEnd() && xml_[at_++] == '>';
    }

    std::string_view xml_;
    std::size_t at_ = 0;
    ObjectBudget budget_;
};

// The binary form: a trailer giving the sizes of offsets and references, the object count, the
// top object and the offset table; containers hold references to other objects. Walks the tree
// the decoder would build, each reference expanded where it is used, within the budget; a
// reference back to an enclosing container nests without end.
class BinaryShape {
public:
    explicit BinaryShape(std::string_view bytes) : bytes_(bytes) {}

    Shape measure()
    {
        constexpr std::size_t kTrailer = 32;
        if (bytes_.size() < kBinarySignature.size() + kTrailer)
            return Shape::Unreadable;
        const std::size_t trailer = bytes_.size() - kTrailer;
        offsetSize_ = static_cast<unsigned char>(bytes_[trailer + 6]);
        refSize_ = static_cast<unsigned char>(bytes_[trailer + 7]);
        const auto count = number(trailer + 8, 8);
        const auto top = number(trailer + 16, 8);
        const auto table = number(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || !count || !top || !table ||
            *count == 0 || *top >= *count || *table > trailer || (trailer - *table) / offsetSize_ < *count)
            return Shape::Unreadable;
        table_ = *table;
        count_ = *count;
        return expand(*top, 0);
    }

private:
    // A big-endian unsigned number of `size` bytes at `at`, when it lies inside the bytes.
    std::optional<std::uint64_t> number(std::uint64_t at, std::uint64_t size) const
    {
        if (at > bytes_.size() || bytes_.size() - at < size)
            return std::nullopt;
        std::uint64_t value = 0;
        for (std::uint64_t i = 0; i < size; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes_[at + i]);
        return value;
    }

    // Object `index` and everything it holds, below `depth` enclosing containers.
    Shape expand(std::uint64_t index, std::size_t depth)
    {
        if (index >= count_)
            return Shape::Unreadable;
        const auto at = number(table_ + index * offsetSize_, offsetSize_);
        if (!at || *at >= bytes_.size())
            return Shape::Unreadable;
        const unsigned marker = static_cast<unsigned char>(bytes_[*at]);
        const unsigned type = marker >> 4;
        std::uint64_t body = *at + 1;
        // Numbers, reals and dates give their size as a power of two, identifiers as one less.
        if (type == 0x1 || type == 0x2 || type == 0x3 || type == 0x8) {
            const std::uint64_t size = type == 0x8 ? (marker & 0xF) + 1 : std::uint64_t{1} << (marker & 0xF);
            if (!number(body, 0) || bytes_.size() - body < size)
                return Shape::Unreadable;
            return budget_.take(size) ? Shape::Within : Shape::OutOfBounds;
        }
        std::optional<std::uint64_t> length = marker & 0xF;
        if (type >= 0x4 && *length == 0xF) {
            // A longer length follows as an integer object of 1, 2, 4 or 8 bytes.
            const auto intMarker = number(body, 1);
            if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0xF) > 3)
                return Shape::Unreadable;
            const std::uint64_t size = std::uint64_t{1} << (*intMarker & 0xF);
            length = number(body + 1, size);
            body += 1 + size;
        }
        if (!length || body > bytes_.size())
            return Shape::Unreadable;
        const std::uint64_t room = bytes_.size() - body;
        // Arrays, sets and dictionaries hold references; every other object is a leaf.
        if (type != 0xA && type != 0xC && type != 0xD) {
            // UTF-16 text takes two bytes a unit, and up to three once the decoder has made it UTF-8.
            const bool utf16 = type == 0x6;
            const std::uint64_t payload = type < 0x4 ? 0 : *length;
            if (payload > room / (utf16 ? 2 : 1))
                return Shape::Unreadable;
            return budget_.take(utf16 ? 3 * payload : payload) ? Shape::Within : Shape::OutOfBounds;
        }
        if (depth + 1 > kMaxNesting || !budget_.take())
            return Shape::OutOfBounds;
        const std::uint64_t references = type == 0xD ? 2 * *length : *length;
        if (*length > room || room / refSize_ < references)
            return Shape::Unreadable;
        for (std::uint64_t i = 0; i < references; ++i)
            if (const Shape child = expand(*number(body + i * refSize_, refSize_), depth + 1); child != Shape::Within)
                return child;
        return Shape::Within;
    }

    std::string_view bytes_;
    std::uint64_t table_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t offsetSize_ = 0;
    std::uint64_t refSize_ = 0;
    ObjectBudget budget_;
};

// The decoder tells the forms apart by the same signature.
Shape shape(std::string_view bytes)
{
    if (bytes.size() > kMaxUpdateListBytes)
        return Shape::OutOfBounds;
    return bytes.starts_with(kBinarySignature) ? BinaryShape(bytes).measure() : XmlShape(bytes).measure();
}

Plist parse(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return nullptr;
    plist_t root = nullptr;
    const auto length = static_cast<std::uint32_t>(bytes.size());
    // Each form by its own decoder: their signatures are the same in every libplist release,
    // while plist_from_memory gained a parameter in 2.3 (the release a Mac's Homebrew has).
    if (bytes.starts_with(kBinarySignature))
        plist_from_bin(bytes.data(), length, &root);
    else
        plist_from_xml(bytes.data(), length, &root);
    return Plist(root);
}

std::optional<std::string> stringFor(plist_t dict, const char* key)
{
    const plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::optional<std::string>(std::in_place, text, length) : std::nullopt;
}

// One dot-separated part of a version: its leading number, then what follows it ("1b2": 1, "b2").
struct VersionPart {
    std::string_view number; // without leading zeros
    std::string_view suffix;
};

std::optional<std::vector<VersionPart>> versionParts(std::string_view version)
{
    std::vector<VersionPart> parts;
    for (std::size_t start = 0; start <= version.size();) {
        const std::size_t end = std::min(version.find('.', start), version.size());
        const std::string_view part = version.substr(start, end - start);
        const std::size_t digits = std::min(part.find_first_not_of("0123456789"), part.size());
        if (digits == 0)
            return std::nullopt;
        const std::string_view number = part.substr(0, digits);
        parts.push_back({number.substr(std::min(number.find_first_not_of('0'), number.size())), part.substr(digits)});
        start = end + 1;
    }
    return parts;
}

// Below 0, 0 or above 0 as version `a` is older than, the same as or newer than `b`; none when
// either does not read as a version. Parts compare by their numbers, then a part without a suffix
// above one with ("2.1" after "2.1b3"), then by suffix; missing parts count as 0 ("2.1" is "2.1.0").
std::optional<int> compareVersions(std::string_view a, std::string_view b)
{
    const auto x = versionParts(a), y = versionParts(b);
    if (!x || !y)
        return std::nullopt;
    for (std::size_t i = 0; i < std::max(x->size(), y->size()); ++i) {
        const VersionPart p = i < x->size() ? (*x)[i] : VersionPart{};
        const VersionPart q = i < y->size() ? (*y)[i] : VersionPart{};
        if (p.number.size() != q.number.size())
            return p.number.size() < q.number.size() ? -1 : 1;
        if (const int order = p.number.compare(q.number); order != 0)
            return order;
        if (p.suffix.empty() != q.suffix.empty())
            return p.suffix.empty() ? 1 : -1;
        if (const int order = p.suffix.compare(q.suffix); order != 0)
            return order;
    }
    return 0;
}

} // namespace

BundleVersion readShortVersion(std::string_view infoPlist)
{
    if (shape(infoPlist) != Shape::Within)
        return {};
    const Plist root = parse(infoPlist);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT || plist_dict_get_size(root.get()) == 0)
        return {};
    std::optional<std::string> version = stringFor(root.get(), "CFBundleShortVersionString");
    if (!version)
        return {BundleVersionStatus::NoVersion, {}};
    return {BundleVersionStatus::Found, std::move(*version)};
}

std::string mimeTypeOf(std::string_view contentType)
{
    contentType = contentType.substr(0, contentType.find(';'));
    constexpr std::string_view blanks = " \t";
    const auto first = contentType.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    contentType = contentType.substr(first, contentType.find_last_not_of(blanks) - first + 1);
    std::string type(contentType);
    for (char& c : type)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return type;
}

bool isAcceptedUpdateResponse(int httpStatus, std::string_view mimeType)
{
    return httpStatus >= 200 && httpStatus <= 299 && (mimeType == "text/xml" || mimeType == "text/plain");
}

UpdateList readUpdateList(std::string_view bytes, std::string_view runningVersion)
{
    if (const Shape found = shape(bytes); found != Shape::Within)
        return {found == Shape::OutOfBounds ? UpdateListStatus::OutOfBounds : UpdateListStatus::Unreadable, false, {}};
    const Plist root = parse(bytes);
    if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY)
        return {};
    const std::uint32_t count = plist_array_get_size(root.get());
    UpdateList list{count == 0 ? UpdateListStatus::Empty : UpdateListStatus::Read, false, {}};
    for (std::uint32_t i = 0; i < count; ++i) {
        const plist_t entry = plist_array_get_item(root.get(), i);
        if (!entry || plist_get_node_type(entry) != PLIST_DICT || stringFor(entry, "AppName") != kUpdateAppName)
            continue;
        list.listsThisApp = true;
        std::optional<std::string> version = stringFor(entry, "Version");
        std::optional<std::string> url = stringFor(entry, "URL");
        // Only a newer version is an update: a list that still names older ones offers no downgrade.
        if (version && url && compareVersions(*version, runningVersion).value_or(0) > 0)
            list.offers.push_back({std::move(*version), std::move(*url)});
    }
    std::ranges::stable_sort(list.offers, [](const UpdateOffer& a, const UpdateOffer& b) {
        return compareVersions(a.version, b.version).value_or(0) > 0;
    });
    return list;
}

} // namespace quillfen
