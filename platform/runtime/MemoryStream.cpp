#include "platform/runtime/MemoryStream.h"

#include "platform/runtime/Exception.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

class CLibraryBlocks : public TMemoryBlockAllocator {
public:
    void* Allocate(std::size_t size) override { return std::malloc(size); }
    void* Resize(void* block, std::size_t, std::size_t newSize) override { return std::realloc(block, newSize); }
    void Free(void* block, std::size_t) override { std::free(block); }
};

[[noreturn]] void OutOfMemory() { throw EOutOfMemory("Out of memory"); }

} // namespace

TMemoryBlockAllocator& TMemoryBlockAllocator::CLibrary()
{
    static CLibraryBlocks blocks;
    return blocks;
}

TMemoryStream::TMemoryStream(TMemoryBlockAllocator& allocator) : allocator_(&allocator) {}

TMemoryStream::~TMemoryStream()
{
    if (data_)
        allocator_->Free(data_, capacity_);
}

TMemoryStream::TMemoryStream(TMemoryStream&& other) noexcept
    : allocator_(other.allocator_), data_(other.data_), size_(other.size_), capacity_(other.capacity_),
      position_(other.position_)
{
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
    other.position_ = 0;
}

TMemoryStream& TMemoryStream::operator=(TMemoryStream&& other) noexcept
{
    if (this != &other) {
        if (data_)
            allocator_->Free(data_, capacity_);
        allocator_ = other.allocator_;
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        position_ = other.position_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
        other.position_ = 0;
    }
    return *this;
}

void TMemoryStream::EnsureCapacity(std::size_t needed)
{
    if (needed <= capacity_)
        return;
    // Double while small; once big, grow by at most MaxGrowthStep so that the unused room
    // stays bounded whatever the final size.
    std::size_t grown = capacity_ + std::min(std::max(capacity_, MinCapacity), MaxGrowthStep);
    if (grown < capacity_) // overflow
        grown = needed;
    const std::size_t newCapacity = std::max(needed, grown);
    void* block = data_ ? allocator_->Resize(data_, capacity_, newCapacity) : allocator_->Allocate(newCapacity);
    if (!block)
        OutOfMemory();
    data_ = static_cast<char*>(block);
    capacity_ = newCapacity;
}

static std::size_t CheckedEnd(std::int64_t position, std::size_t count)
{
    const auto pos = static_cast<std::uint64_t>(position);
    if (pos > std::numeric_limits<std::size_t>::max() - count)
        OutOfMemory();
    return static_cast<std::size_t>(pos) + count;
}

void TMemoryStream::Write(const void* data, std::size_t count)
{
    if (count == 0)
        return;
    std::memcpy(BeginWrite(count), data, count);
    EndWrite(count);
}

char* TMemoryStream::BeginWrite(std::size_t count)
{
    const std::size_t end = CheckedEnd(position_, count);
    EnsureCapacity(end);
    // A position beyond the end leaves a gap of zero bytes, as a write there would.
    const auto pos = static_cast<std::size_t>(position_);
    if (pos > size_)
        std::memset(data_ + size_, 0, pos - size_);
    return data_ + pos;
}

void TMemoryStream::EndWrite(std::size_t count)
{
    const std::size_t end = CheckedEnd(position_, count);
    if (end > capacity_)
        OutOfMemory(); // more than BeginWrite made room for
    size_ = std::max(size_, end);
    position_ = static_cast<std::int64_t>(end);
}

void TMemoryStream::SetSize(std::int64_t size)
{
    const std::size_t newSize = CheckedEnd(size < 0 ? 0 : size, 0);
    if (newSize > size_) {
        EnsureCapacity(newSize);
        std::memset(data_ + size_, 0, newSize - size_);
    }
    size_ = newSize;
    if (position_ > static_cast<std::int64_t>(size_))
        position_ = static_cast<std::int64_t>(size_);
}

void TMemoryStream::Reserve(std::size_t count)
{
    const std::size_t wanted = CheckedEnd(static_cast<std::int64_t>(size_), count);
    if (wanted <= capacity_)
        return;
    void* block = data_ ? allocator_->Resize(data_, capacity_, wanted) : allocator_->Allocate(wanted);
    if (!block)
        OutOfMemory();
    data_ = static_cast<char*>(block);
    capacity_ = wanted;
}

void TMemoryStream::Clear()
{
    if (data_)
        allocator_->Free(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    position_ = 0;
}
