#include "platform/ReadAhead.h"

namespace quillfen {

ReadAhead::ReadAhead(ByteSource& source, std::size_t pieceBytes, bool ahead, Position position)
    : source_(source), position_(std::move(position)), ahead_(ahead)
{
    slots_[0].buffer.reserve(pieceBytes, 0);
    if (ahead_) {
        slots_[1].buffer.reserve(pieceBytes, 0);
        reading_.handOver([this] { fill(slots_[0]); });
    }
}

void ReadAhead::fill(Slot& slot)
{
    const std::size_t count = source_.read({slot.buffer.data(), slot.buffer.capacity()});
    slot.piece = {{slot.buffer.data(), count}, position_ ? position_() : 0};
}

ReadAhead::Piece ReadAhead::next()
{
    if (ended_)
        return {};
    Slot& slot = slots_[current_];
    if (ahead_) {
        reading_.wait();
        // The piece handed out before is done with: its slot takes the one after this.
        if (!slot.piece.bytes.empty()) {
            Slot& following = slots_[1 - current_];
            reading_.handOver([this, &following] { fill(following); });
        }
        current_ = 1 - current_;
    } else {
        fill(slot);
    }
    ended_ = slot.piece.bytes.empty();
    return slot.piece;
}

} // namespace quillfen
