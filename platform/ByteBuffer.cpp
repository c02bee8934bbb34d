#include "platform/ByteBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace quillfen {

ByteBuffer::ByteBuffer(std::string_view bytes)
{
    append(bytes);
}

ByteBuffer::ByteBuffer(const ByteBuffer& other)
{
    append(other.view());
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer other) noexcept
{
    swap(*this, other);
    return *this;
}

ByteBuffer::~ByteBuffer()
{
    std::free(data_);
}

void swap(ByteBuffer& a, ByteBuffer& b) noexcept
{
    std::swap(a.data_, b.data_);
    std::swap(a.size_, b.size_);
    std::swap(a.capacity_, b.capacity_);
}

void ByteBuffer::reserve(std::size_t capacity)
{
    if (capacity <= capacity_)
        return;
    auto* grown = static_cast<char*>(std::realloc(data_, capacity + kPadding));
    if (grown == nullptr)
        throw std::bad_alloc();
    data_ = grown;
    capacity_ = capacity;
    // Only the padding is cleared: untouched capacity stays out of resident memory.
    std::memset(data_ + size_, 0, kPadding);
}

char* ByteBuffer::prepareAppend(std::size_t count)
{
    if (capacity_ - size_ < count) {
        // Doubling keeps the number of reallocations logarithmic in the output size.
        std::size_t wanted = capacity_ < 4096 ? 4096 : capacity_ * 2;
        while (wanted - size_ < count)
            wanted *= 2;
        reserve(wanted);
    }
    return data_ + size_;
}

void ByteBuffer::commit(std::size_t count)
{
    size_ += count;
    std::memset(data_ + size_, 0, kPadding);
}

void ByteBuffer::append(std::string_view bytes)
{
    if (bytes.empty())
        return;
    std::memcpy(prepareAppend(bytes.size()), bytes.data(), bytes.size());
    commit(bytes.size());
}

} // namespace quillfen
