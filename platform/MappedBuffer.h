#pragma once

#include <cstddef>

namespace quillfen {

// Memory for large transient bytes, mapped straight from the system on huge
// pages where it offers them (one fault per 2 MiB instead of per 4 KiB), and
// always followed by kPadding readable bytes so a decoder may read past
// the end. Where huge pages are off, or the system has no huge-page advice,
// it works the same on ordinary pages.
class MappedBuffer {
public:
    static constexpr std::size_t kPadding = 64;

    MappedBuffer() = default;
    MappedBuffer(MappedBuffer&& other) noexcept;
    MappedBuffer& operator=(MappedBuffer&& other) noexcept;
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;
    ~MappedBuffer();

    char* data() { return data_; }
    const char* data() const { return data_; }
    // Usable bytes, not counting the padding.
    std::size_t capacity() const { return capacity_; }

    // Makes room for at least `capacity` bytes, keeping the first `keep` bytes.
    // Throws std::bad_alloc when the system has no memory left.
    void reserve(std::size_t capacity, std::size_t keep);

private:
    void release() noexcept;

    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t mapped_ = 0;
};

} // namespace quillfen
