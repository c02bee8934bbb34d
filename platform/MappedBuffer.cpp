#include "platform/MappedBuffer.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace quillfen {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

} // namespace

MappedBuffer::MappedBuffer(MappedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, 0))
{
}

MappedBuffer& MappedBuffer::operator=(MappedBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

MappedBuffer::~MappedBuffer()
{
    release();
}

void MappedBuffer::release() noexcept
{
    if (data_ != nullptr)
        ::munmap(data_, mapped_);
    data_ = nullptr;
    capacity_ = mapped_ = 0;
}

void MappedBuffer::reserve(std::size_t capacity, std::size_t keep)
{
    if (capacity <= capacity_)
        return;
    const std::size_t size = roundUp(capacity + kPadding, kHugePage);
    // Over-map by one huge page so the block can start on a huge-page boundary.
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    auto* start = static_cast<char*>(raw);
    auto* aligned = reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
    if (aligned != start)
        ::munmap(start, static_cast<std::size_t>(aligned - start));
    if (const std::size_t tail = kHugePage - static_cast<std::size_t>(aligned - start); tail > 0)
        ::munmap(aligned + size, tail);
    // Best effort: where transparent huge pages are off this fails and ordinary pages serve.
    ::madvise(aligned, size, MADV_HUGEPAGE);
    if (keep > 0)
        std::memcpy(aligned, data_, keep);
    release();
    data_ = aligned;
    mapped_ = size;
    capacity_ = size - kPadding;
}

} // namespace quillfen
