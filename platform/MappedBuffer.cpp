#include "platform/MappedBuffer.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace quillfen {

namespace {

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

#if defined(MAP_ANONYMOUS) && defined(MADV_HUGEPAGE) && !defined(QUILLFEN_POSIX_ONLY)
constexpr std::size_t kUnit = std::size_t{2} << 20; // a huge page

char* allocate(std::size_t size)
{
    // Over-map by one huge page so the block can start on a huge-page boundary.
    void* raw = ::mmap(nullptr, size + kUnit, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    auto* start = static_cast<char*>(raw);
    auto* aligned = reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kUnit));
    if (aligned != start)
        ::munmap(start, static_cast<std::size_t>(aligned - start));
    if (const std::size_t tail = kUnit - static_cast<std::size_t>(aligned - start); tail > 0)
        ::munmap(aligned + size, tail);
    // Best effort: where transparent huge pages are off this fails and ordinary pages serve.
    ::madvise(aligned, size, MADV_HUGEPAGE);
    return aligned;
}

void deallocate(char* data, std::size_t size)
{
    ::munmap(data, size);
}
#else
// Without huge-page advice the allocator's own large blocks serve as well: they too come
// straight from the system and go back to it when freed.
constexpr std::size_t kUnit = std::size_t{64} << 10;

char* allocate(std::size_t size)
{
    return static_cast<char*>(::operator new(size));
}

void deallocate(char* data, std::size_t /*size*/)
{
    ::operator delete(data);
}
#endif

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
        deallocate(data_, mapped_);
    data_ = nullptr;
    capacity_ = mapped_ = 0;
}

void MappedBuffer::reserve(std::size_t capacity, std::size_t keep)
{
    if (capacity <= capacity_)
        return;
    const std::size_t size = roundUp(capacity + kPadding, kUnit);
    char* block = allocate(size);
    if (keep > 0)
        std::memcpy(block, data_, keep);
    release();
    data_ = block;
    mapped_ = size;
    capacity_ = size - kPadding;
}

} // namespace quillfen
