#include "logquery/Gzip.h"

#include "logquery/Archive.h"
#include "logquery/Replay.h"

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

class GzipSource final : public ByteSource {
public:
    explicit GzipSource(std::unique_ptr<Replay> replay) : replay_(std::move(replay)), input_(kInputBytes)
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
            if (memberEnded_ && (padded_ || *stream_.next_in == 0)) {
                // Zeros after the last member pad it out to a block, as tapes and some tools leave it.
                padded_ = true;
                if (std::any_of(stream_.next_in, stream_.next_in + stream_.avail_in, [](Bytef b) { return b != 0; })) {
                    failure_ = "its gzip data is damaged";
                    break;
                }
                stream_.avail_in = 0;
                continue;
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
        const std::size_t count = replay_->read(input_);
        if (count == 0) {
            if (replay_->failure())
                failure_ = replay_->failure();
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

    std::unique_ptr<Replay> replay_;
    std::vector<char> input_;
    z_stream stream_{};
    bool memberEnded_ = false;
    bool padded_ = false;
    bool ended_ = false;
    std::optional<std::string> failure_;
};

} // namespace

std::unique_ptr<ByteSource> decompressed(std::unique_ptr<ByteSource> source, bool outer)
{
    auto replay = std::make_unique<Replay>(std::move(source), 2);
    if (replay->peek() == "\x1f\x8b")
        return unpacked(std::make_unique<GzipSource>(std::move(replay)), outer);
    return unpacked(std::move(replay), outer);
}

} // namespace quillfen
