#include "logquery/Gzip.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace quillfen {

namespace {

constexpr std::size_t kInputBytes = 64 * 1024;
// gzip's own header rather than zlib's, and the largest window.
constexpr int kGzipWindowBits = 15 + 16;

// Reads first the bytes taken to look at the start, then the source.
class Replay {
public:
    explicit Replay(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

    // Up to two first bytes, gathered across short reads.
    std::string_view peek()
    {
        while (peeked_ < 2) {
            const std::size_t count = source_->read(std::span(head_).subspan(peeked_));
            if (count == 0)
                break;
            peeked_ += count;
        }
        return {head_.data(), peeked_};
    }
    std::size_t read(std::span<char> buffer)
    {
        if (given_ < peeked_) {
            const std::size_t count = std::min(buffer.size(), peeked_ - given_);
            std::memcpy(buffer.data(), head_.data() + given_, count);
            given_ += count;
            return count;
        }
        return source_->read(buffer);
    }
    const std::optional<std::string>& failure() const { return source_->failure(); }

private:
    std::unique_ptr<ByteSource> source_;
    std::array<char, 2> head_{};
    std::size_t peeked_ = 0;
    std::size_t given_ = 0;
};

class PlainSource final : public ByteSource {
public:
    explicit PlainSource(Replay replay) : replay_(std::move(replay)) {}
    std::size_t read(std::span<char> buffer) override { return replay_.read(buffer); }
    const std::optional<std::string>& failure() const override { return replay_.failure(); }

private:
    Replay replay_;
};

class GzipSource final : public ByteSource {
public:
    explicit GzipSource(Replay replay) : replay_(std::move(replay)), input_(kInputBytes)
    {
        if (inflateInit2(&stream_, kGzipWindowBits) != Z_OK)
            failure_ = "there is not enough memory to decompress it";
    }
    ~GzipSource() override { inflateEnd(&stream_); }
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::size_t read(std::span<char> buffer) override
    {
        if (failure_ || ended_)
            return 0;
        stream_.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(buffer.size(), UINT32_MAX));
        const uInt room = stream_.avail_out;
        while (stream_.avail_out > 0) {
            if (stream_.avail_in == 0 && !refill()) {
                finishMembers();
                break;
            }
            if (memberEnded_) {
                // Another member follows the one that ended.
                inflateReset(&stream_);
                memberEnded_ = false;
            }
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                memberEnded_ = true;
            } else if (status != Z_OK) {
                failure_ = "its gzip data is damaged";
                break;
            }
        }
        return failure_ ? 0 : room - stream_.avail_out;
    }
    const std::optional<std::string>& failure() const override { return failure_; }

private:
    bool refill()
    {
        const std::size_t count = replay_.read(input_);
        if (count == 0) {
            if (replay_.failure())
                failure_ = replay_.failure();
            return false;
        }
        stream_.next_in = reinterpret_cast<Bytef*>(input_.data());
        stream_.avail_in = static_cast<uInt>(count);
        return true;
    }
    // The compressed input has ended: fine between members, cut off inside one.
    void finishMembers()
    {
        if (!failure_ && !memberEnded_)
            failure_ = "its gzip data is cut off";
        ended_ = true;
    }

    Replay replay_;
    std::vector<char> input_;
    z_stream stream_{};
    bool memberEnded_ = false;
    bool ended_ = false;
    std::optional<std::string> failure_;
};

} // namespace

std::unique_ptr<ByteSource> decompressed(std::unique_ptr<ByteSource> source)
{
    Replay replay(std::move(source));
    if (replay.peek() == "\x1f\x8b")
        return std::make_unique<GzipSource>(std::move(replay));
    return std::make_unique<PlainSource>(std::move(replay));
}

} // namespace quillfen
