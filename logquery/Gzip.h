#pragma once

#include "platform/InputFile.h"

#include <memory>

namespace quillfen {

// `source` as it reads: gzip data (recognised by its first two bytes, not a
// name) comes out decompressed, one caller's buffer at a time, so no more of
// it is ever held than of plain bytes; members written one after another
// read on, zeros after the last one pass as padding. What comes out then
// goes through `unpacked`, so a .tar.gz reads as its one log. `outer`: false
// for a file that came out of an archive, which is not unpacked further.
std::unique_ptr<ByteSource> decompressed(std::unique_ptr<ByteSource> source, bool outer = true);

} // namespace quillfen
