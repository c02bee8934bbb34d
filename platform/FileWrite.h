#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Replaces the file at `path` with `data` in one step: written beside it under
// a temporary name, then renamed over it, so a failure leaves whatever was
// there; synced to disk before and after the rename. A path that names no
// regular file (a device, a pipe) is written in place instead, never replaced;
// a pipe without a reader is refused. The file's permissions are `mode` whatever the umask, or
// without one those the umask gives. Returns why it failed, or nothing.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view data,
                                               std::optional<unsigned> mode = std::nullopt);

} // namespace quillfen
