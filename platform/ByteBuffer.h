#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillfen {

// A growable byte string that always keeps kPadding zero bytes allocated after
// its end, so the JSON decoder can read a tool's whole output in place instead
// of copying it. Growth goes through realloc, which moves large blocks by
// remapping pages rather than copying them.
class ByteBuffer {
public:
    static constexpr std::size_t kPadding = 64;

    ByteBuffer() = default;
    explicit ByteBuffer(std::string_view bytes);
    ByteBuffer(const ByteBuffer& other);
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer other) noexcept;
    ~ByteBuffer();

    const char* data() const { return data_ ? data_ : ""; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {data(), size_}; }
    std::string str() const { return std::string(view()); }

    // Room for at least `count` more bytes; write into the returned space, then commit().
    char* prepareAppend(std::size_t count);
    void commit(std::size_t count);
    void append(std::string_view bytes);

    friend void swap(ByteBuffer& a, ByteBuffer& b) noexcept;

private:
    void reserve(std::size_t capacity);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0; // usable bytes, not counting the padding
};

} // namespace quillfen
