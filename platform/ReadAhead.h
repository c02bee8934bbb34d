#pragma once

#include "platform/Handoff.h"
#include "platform/InputFile.h"
#include "platform/MappedBuffer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

namespace quillfen {

// A source's bytes in pieces, read on a thread of its own one piece ahead of
// the caller, so that the copy out of the kernel and any decompression run
// beside the work on the piece before. Only a source whose reads always end
// (a regular file and what unpacks it) may be read ahead: a thread waiting on
// a silent pipe could not be stopped. Otherwise each piece is read when asked for.
class ReadAhead {
public:
    struct Piece {
        std::string_view bytes;     // valid until the next call of next(); empty at the end or on a failure
        std::uint64_t position = 0; // what `position` gave after the piece was read
        std::size_t slot = 0;       // of the two pieces held: what `prepare` was given it for
        bool prepared = false;      // `prepare` was given it: only a piece read ahead is
    };
    using Position = std::function<std::uint64_t()>;
    // Work on a piece done on the reading thread before the piece is handed out, up to where it is when the
    // caller asks for the piece (`asked` turns true): the caller does the rest, so that the two threads share
    // the work however fast each is.
    using Prepare = std::function<void(std::string_view bytes, std::size_t slot, const std::atomic<bool>& asked)>;

    // Pieces of `pieceBytes` or more; `position`: how far the source has come, asked on the reading thread after
    // each piece; `prepare`: done there with each piece read ahead, never when the caller would wait for it.
    ReadAhead(ByteSource& source, std::size_t pieceBytes, bool ahead, Position position = {}, Prepare prepare = {});

    // The source's next piece. Its failure() may be asked once a piece came empty.
    Piece next();

private:
    struct Slot {
        MappedBuffer buffer; // on huge pages where the system has them: every byte is parsed, and fewer pages
                             // spare the processor's address translation
        Piece piece;
        std::atomic<bool> asked = false; // the piece being read into the slot is wanted now
    };
    void fill(Slot& slot);
    void readInto(Slot& slot);

    ByteSource& source_;
    Position position_;
    Prepare prepare_;
    bool ahead_;
    Slot slots_[2];
    std::size_t current_ = 0; // the slot being read into, or read when not ahead
    bool ended_ = false;
    Handoff reading_; // last: its job fills a slot
};

} // namespace quillfen
