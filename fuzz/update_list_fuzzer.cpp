// Feeds arbitrary bytes, as an update server's body or a bundle's information,
// through the property-list decoding and the offer decisions, and holds the bounds
// check to what libplist itself makes of the same bytes.
#include "update/UpdateList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

using quillfen::UpdateListStatus;

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

// Objects (keys aside) and container levels of a decoded tree; stops a level past the bound.
struct Measure {
    std::size_t objects = 0;
    std::size_t depth = 0;

    void walk(plist_t node, std::size_t level)
    {
        ++objects;
        const plist_type type = plist_get_node_type(node);
        if (type != PLIST_ARRAY && type != PLIST_DICT)
            return;
        depth = std::max(depth, level + 1);
        if (level + 1 > quillfen::kMaxUpdateListNesting)
            return;
        if (type == PLIST_ARRAY) {
            for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i)
                walk(plist_array_get_item(node, i), level + 1);
            return;
        }
        // Values only: asking for the keys trips an assertion on a key holding a NUL byte. Each
        // step counts from the first item, so a large dictionary counts without being entered.
        if (plist_dict_get_size(node) > 4096) {
            objects += plist_dict_get_size(node);
            return;
        }
        plist_dict_iter items = nullptr;
        plist_dict_new_iter(node, &items);
        for (;;) {
            plist_t value = nullptr;
            plist_dict_next_item(node, items, nullptr, &value);
            if (!value)
                break;
            walk(value, level + 1);
        }
        std::free(items);
    }

    bool within() const
    {
        return depth <= quillfen::kMaxUpdateListNesting && objects <= quillfen::kMaxUpdateListObjects;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const quillfen::UpdateList list = quillfen::readUpdateList(bytes, "2.1");
    // What the shell relies on: offers only come from a list that names this application.
    if (!list.offers.empty() && (list.status != UpdateListStatus::Read || !list.listsThisApp))
        std::abort();
    for (const quillfen::UpdateOffer& offer : list.offers)
        if (offer.version == "2.1")
            std::abort();
    const quillfen::BundleVersion bundle = quillfen::readShortVersion(bytes);
    if (bundle.status != quillfen::BundleVersionStatus::Found && !bundle.version.empty())
        std::abort();

    // A list let through decodes within the bounds. A refused XML one small enough to decode
    // safely here was refused rightly: libplist rejects it too, or it does exceed a bound.
    // (A small binary list can expand without end, so only what was let through is decoded.)
    const bool passed = list.status == UpdateListStatus::Read || list.status == UpdateListStatus::Empty;
    if (!passed && (bytes.starts_with("bplist00") || size > 64 * 1024))
        return 0;
    plist_t decoded = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(size), &decoded);
    const std::unique_ptr<void, PlistFree> root(decoded);
    if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY) {
        if (passed)
            std::abort();
        return 0;
    }
    Measure measure;
    measure.walk(root.get(), 0);
    if (measure.within() != passed)
        std::abort();
    return 0;
}
