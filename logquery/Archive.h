#pragma once

#include "platform/InputFile.h"

#include <memory>

namespace quillfen {

// `source` as it reads: xz, bzip2 and zstd data (recognised by their first
// bytes, not a name) come out decompressed, and a zip or tar archive comes out
// as the one file in it, passing over folders and the Finder's own files.
// An archive of no file or of several, or a sysdiagnose, fails saying so.
// Anything else comes out unchanged. Nothing is held but a few buffers.
// The file out of an archive is decompressed once more (a zip of tm.json.gz);
// `outer` is false for that file, which is then not unpacked as an archive.
std::unique_ptr<ByteSource> unpacked(std::unique_ptr<ByteSource> source, bool outer = true);

} // namespace quillfen
