#include "update/UpdateList.h"

#include <plist/plist.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

namespace quillfen {

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

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
