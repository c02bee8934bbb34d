#include "update/UpdateList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace quillfen {

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// The decoder and plist_free recurse once per level, so a list nested deep enough
// overflows the stack. Ours are two containers deep.
constexpr int kMaxNesting = 8;

constexpr std::string_view kBinarySignature = "bplist00";

enum class Nesting { Within, TooDeep, Unreadable };

// The XML form's nesting of arrays and dictionaries. Counts generously: a container
// tag counts as open unless it is plainly empty ("<array/>"), and a document type
// with an internal subset, which no list of ours has, is unreadable.
Nesting xmlNesting(std::string_view xml)
{
    int depth = 0;
    for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        const std::string_view rest = xml.substr(at);
        const auto skipTo = [&](std::string_view end) {
            const std::size_t found = xml.find(end, at);
            at = found == std::string_view::npos ? xml.size() : found + end.size() - 1;
        };
        if (rest.starts_with("<!--")) {
            skipTo("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipTo("]]>");
        } else if (rest.starts_with("<?")) {
            skipTo("?>");
        } else if (rest.starts_with("<!")) {
            const std::size_t end = rest.find('>');
            if (end == std::string_view::npos || rest.substr(1, end).find_first_of("<[") != std::string_view::npos)
                return Nesting::Unreadable;
            at += end;
        } else {
            const bool closing = rest.starts_with("</");
            std::string_view name = rest.substr(closing ? 2 : 1);
            const std::size_t nameEnd = name.find_first_of(" \t\r\n/>");
            if (nameEnd == std::string_view::npos)
                return Nesting::Unreadable;
            const std::string_view tail = name.substr(nameEnd);
            name = name.substr(0, nameEnd);
            if (name != "array" && name != "dict")
                continue;
            if (closing) {
                depth = std::max(depth - 1, 0);
            } else if (const std::size_t end = tail.find_first_not_of(" \t\r\n");
                       end != std::string_view::npos && tail.substr(end).starts_with("/>")) {
                continue;
            } else if (++depth > kMaxNesting) {
                return Nesting::TooDeep;
            }
        }
    }
    return Nesting::Within;
}

// The binary form's nesting: objects found through an offset table, containers
// holding references to other objects. Walks from the top object, measuring each
// object once; a reference back to an enclosing container nests without end.
class BinaryNesting {
public:
    explicit BinaryNesting(std::string_view bytes) : bytes_(bytes) {}

    Nesting measure()
    {
        constexpr std::size_t kTrailer = 32;
        if (bytes_.size() < kBinarySignature.size() + kTrailer)
            return Nesting::Unreadable;
        const std::size_t trailer = bytes_.size() - kTrailer;
        offsetSize_ = static_cast<unsigned char>(bytes_[trailer + 6]);
        refSize_ = static_cast<unsigned char>(bytes_[trailer + 7]);
        const auto count = number(trailer + 8, 8);
        const auto top = number(trailer + 16, 8);
        const auto table = number(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || !count || !top || !table ||
            *count == 0 || *top >= *count || *table > trailer || (trailer - *table) / offsetSize_ < *count)
            return Nesting::Unreadable;
        table_ = *table;
        states_.assign(*count, State{});
        if (height(*top, 0))
            return Nesting::Within;
        return unreadable_ ? Nesting::Unreadable : Nesting::TooDeep;
    }

private:
    struct State {
        bool visiting = false;
        std::optional<int> height;
    };

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

    std::optional<int> fail()
    {
        unreadable_ = true;
        return std::nullopt;
    }

    // The containers nested in object `index`, itself included; nothing when that would
    // exceed the limit below `depth` enclosing ones, or when the object cannot be read.
    std::optional<int> height(std::uint64_t index, int depth)
    {
        if (index >= states_.size())
            return fail();
        State& state = states_[index];
        if (state.height)
            return depth + *state.height <= kMaxNesting ? state.height : std::nullopt;
        if (state.visiting)
            return std::nullopt;
        const auto at = number(table_ + index * offsetSize_, offsetSize_);
        if (!at || *at >= bytes_.size())
            return fail();
        const unsigned marker = static_cast<unsigned char>(bytes_[*at]);
        const unsigned type = marker >> 4;
        // Arrays, sets and dictionaries hold references; every other object is a leaf.
        if (type != 0xA && type != 0xC && type != 0xD) {
            state.height = 0;
            return 0;
        }
        if (depth + 1 > kMaxNesting)
            return std::nullopt;
        std::uint64_t refs = *at + 1;
        std::optional<std::uint64_t> entries = marker & 0xF;
        if (*entries == 0xF) {
            // The count follows as an integer object of 1, 2, 4 or 8 bytes.
            const auto intMarker = number(refs, 1);
            if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0xF) > 3)
                return fail();
            const std::uint64_t size = std::uint64_t{1} << (*intMarker & 0xF);
            entries = number(refs + 1, size);
            refs += 1 + size;
        }
        if (!entries || *entries > bytes_.size() || refs > bytes_.size())
            return fail();
        const std::uint64_t references = type == 0xD ? 2 * *entries : *entries;
        if ((bytes_.size() - refs) / refSize_ < references)
            return fail();
        state.visiting = true;
        int tallest = 0;
        for (std::uint64_t i = 0; i < references; ++i) {
            const auto child = height(*number(refs + i * refSize_, refSize_), depth + 1);
            if (!child)
                return std::nullopt;
            tallest = std::max(tallest, *child);
        }
        state.visiting = false;
        state.height = tallest + 1;
        return state.height;
    }

    std::string_view bytes_;
    std::uint64_t table_ = 0;
    std::uint64_t offsetSize_ = 0;
    std::uint64_t refSize_ = 0;
    std::vector<State> states_;
    bool unreadable_ = false;
};

// The decoder tells the forms apart by the same signature.
Nesting nesting(std::string_view bytes)
{
    return bytes.starts_with(kBinarySignature) ? BinaryNesting(bytes).measure() : xmlNesting(bytes);
}

Plist parse(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return nullptr;
    plist_t root = nullptr;
    // Tells binary from XML by the "bplist00" signature.
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
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

} // namespace

BundleVersion readShortVersion(std::string_view infoPlist)
{
    if (nesting(infoPlist) != Nesting::Within)
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
    if (const Nesting found = nesting(bytes); found != Nesting::Within)
        return {found == Nesting::TooDeep ? UpdateListStatus::TooDeep : UpdateListStatus::Unreadable, false, {}};
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
        // Any difference counts as an update; versions are not ordered.
        if (version && url && *version != runningVersion)
            list.offers.push_back({std::move(*version), std::move(*url)});
    }
    return list;
}

} // namespace quillfen
