// Feeds up to 1 MiB of arbitrary bytes, as a saved log's file, through the
// decompressing and unpacking source, in the uneven pieces a pipe gives: it
// must end, within bounded output, and a failure must be plain text.
#include "logquery/Gzip.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

using namespace quillfen;

class Bytes final : public ByteSource {
public:
    explicit Bytes(std::string_view bytes) : rest_(bytes) {}
    std::size_t read(std::span<char> buffer) override
    {
        const std::size_t count = std::min({buffer.size(), rest_.size(), 1 + rest_.size() % 4093});
        std::memcpy(buffer.data(), rest_.data(), count);
        rest_.remove_prefix(count);
        return count;
    }
    const std::optional<std::string>& failure() const override { return failure_; }

private:
    std::string_view rest_;
    std::optional<std::string> failure_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > std::size_t{1} << 20)
        return 0;
    const auto source =
        decompressed(std::make_unique<Bytes>(std::string_view(reinterpret_cast<const char*>(data), size)));
    std::array<char, 16 * 1024> buffer{};
    // Compression can expand a megabyte far; the reader gives up on such a line long before this.
    for (std::size_t total = 0; total < std::size_t{256} << 20;) {
        const std::size_t count = source->read(buffer);
        if (count == 0)
            break;
        total += count;
    }
    if (const auto& why = source->failure()) {
        for (const char c : *why) {
            if (static_cast<unsigned char>(c) < 0x20)
                __builtin_trap();
        }
    }
    return 0;
}
