#pragma once

#include "platform/InputFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace quillfen {

// A source whose first bytes can be looked at before they are read, so that a
// pipe, which cannot seek back, can be told apart by its start.
class Replay final : public ByteSource {
public:
    Replay(std::unique_ptr<ByteSource> source, std::size_t looked) : source_(std::move(source)), head_(looked, '\0') {}

    // Up to `looked` first bytes, gathered across short reads.
    std::string_view peek()
    {
        while (peeked_ < head_.size()) {
            const std::size_t count = source_->read(std::span(head_).subspan(peeked_));
            if (count == 0)
                break;
            peeked_ += count;
        }
        return {head_.data(), peeked_};
    }
    std::size_t read(std::span<char> buffer) override
    {
        if (given_ < peeked_) {
            const std::size_t count = std::min(buffer.size(), peeked_ - given_);
            std::memcpy(buffer.data(), head_.data() + given_, count);
            given_ += count;
            return count;
        }
        return source_->read(buffer);
    }
    const std::optional<std::string>& failure() const override { return source_->failure(); }

private:
    std::unique_ptr<ByteSource> source_;
    std::string head_;
    std::size_t peeked_ = 0;
    std::size_t given_ = 0;
};

} // namespace quillfen
