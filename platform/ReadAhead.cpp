#include "platform/ReadAhead.h"

namespace quillfen {

ReadAhead::ReadAhead(ByteSource& source, std::size_t pieceBytes, bool ahead, Position position, Prepare prepare)
    : source_(source), position_(std::move(position)), prepare_(std::move(prepare)), ahead_(ahead)
{
    slots_[0].buffer.reserve(pieceBytes, 0);
    if (ahead_) {
        slots_[1].buffer.reserve(pieceBytes, 0);
        readInto(slots_[0]);
    }
}

void ReadAhead::readInto(Slot& slot)
{
    slot.asked = false;
    reading_.handOver([this, &slot] { fill(slot); });
}

void ReadAhead::fill(Slot& slot)
{
    const std::size_t count = source_.read({slot.buffer.data(), slot.buffer.capacity()});
    const auto number = static_cast<std::size_t>(&slot - slots_);
    const bool prepared = ahead_ && prepare_ && count > 0;
    slot.piece = {{slot.buffer.data(), count}, position_ ? position_() : 0, number, prepared};
    if (prepared)
        prepare_(slot.piece.bytes, number, slot.asked);
}

ReadAhead::Piece ReadAhead::next()
{
    if (ended_)
        return {};
    Slot& slot = slots_[current_];
    if (ahead_) {
        slot.asked = true;
        reading_.wait();
        // The piece handed out before is done with: its slot takes the one after this.
        if (!slot.piece.bytes.empty())
            readInto(slots_[1 - current_]);
        current_ = 1 - current_;
    } else {
        fill(slot);
    }
    ended_ = slot.piece.bytes.empty();
    return slot.piece;
}

} // namespace quillfen
