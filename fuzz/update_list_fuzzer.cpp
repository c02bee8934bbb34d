// Feeds arbitrary bytes, as an update server's body or a bundle's information,
// through the property-list decoding and the offer decisions.
#include "update/UpdateList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const quillfen::UpdateList list = quillfen::readUpdateList(bytes, "2.1");
    // What the shell relies on: offers only come from a list that names this application.
    if (!list.offers.empty() && (list.status != quillfen::UpdateListStatus::Read || !list.listsThisApp))
        std::abort();
    for (const quillfen::UpdateOffer& offer : list.offers)
        if (offer.version == "2.1")
            std::abort();
    const quillfen::BundleVersion bundle = quillfen::readShortVersion(bytes);
    if (bundle.status != quillfen::BundleVersionStatus::Found && !bundle.version.empty())
        std::abort();
    return 0;
}
