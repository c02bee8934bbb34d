#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

inline constexpr std::string_view kUpdateAppName = "Quillfen";

enum class BundleVersionStatus { NoInfo, NoVersion, Found };

struct BundleVersion {
    BundleVersionStatus status = BundleVersionStatus::NoInfo;
    std::string version;
};

// The "CFBundleShortVersionString" of a bundle's information property list.
// NoInfo: unreadable, not a dictionary, or without keys; a non-string version counts as missing.
BundleVersion readShortVersion(std::string_view infoPlist);

// The MIME type of a Content-Type header value: the type without its parameters, trimmed, lower-cased.
std::string mimeTypeOf(std::string_view contentType);

bool isAcceptedUpdateResponse(int httpStatus, std::string_view mimeType);

struct UpdateOffer {
    std::string version;
    std::string url;
};

// Far beyond any list of ours, which are two containers deep and a few dozen objects long; the
// update request reads no more bytes than this either.
inline constexpr std::size_t kMaxUpdateListBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxUpdateListNesting = 8;
// Objects as decoded: an object the binary form refers to from several places counts at each.
inline constexpr std::size_t kMaxUpdateListObjects = 100'000;

// OutOfBounds: larger, nested deeper or expanding to more objects than any list of ours,
// refused before decoding.
enum class UpdateListStatus { Unreadable, OutOfBounds, Empty, Read };

struct UpdateList {
    UpdateListStatus status = UpdateListStatus::Unreadable;
    // Some element names this application, so the check counts as made.
    bool listsThisApp = false;
    // This application's elements with a newer version than the running one, newest first (dotted
    // numbers: "2.10" after "2.9", "2.1" after "2.1b3"); whether their address may be opened is
    // decided by the caller.
    std::vector<UpdateOffer> offers;
};

// Decodes an update property list (XML or binary). A top level that is not an array is
// Unreadable; elements that are not dictionaries or lack string values are skipped.
UpdateList readUpdateList(std::string_view bytes, std::string_view runningVersion);

} // namespace quillfen
