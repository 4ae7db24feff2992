#pragma once
// A growable in-memory byte stream that a download fills from its start and that can
// be saved to a file. Growth follows the bytes that really arrive; a failed allocation
// raises EOutOfMemory instead of ending the process.
//
// Big streams grow in steps of at most MaxGrowthStep bytes, so the room allocated beyond
// the bytes held stays bounded, and their blocks are resized in place or moved by the
// allocator (the C library's realloc moves big blocks by remapping pages, never by
// copying them). A stream may be given another allocator when it is created; it keeps
// that allocator for its whole life, and the allocator must outlive it.

#include "platform/runtime/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Memory blocks for stream storage. Every function may be called from any thread.
class TMemoryBlockAllocator {
public:
    virtual ~TMemoryBlockAllocator() = default;
    // A block of `size` bytes (size > 0), or null when there is no memory.
    virtual void* Allocate(std::size_t size) = 0;
    // The block resized to newSize, keeping its first min(oldSize, newSize) bytes; null
    // when there is no memory, the block then being unchanged.
    virtual void* Resize(void* block, std::size_t oldSize, std::size_t newSize) = 0;
    virtual void Free(void* block, std::size_t size) = 0;

    // The C library's malloc, realloc and free.
    static TMemoryBlockAllocator& CLibrary();
};

class TMemoryStream : public TStream {
public:
    // The most a big stream grows by at once.
    static constexpr std::size_t MaxGrowthStep = std::size_t{64} << 20;
    // The least a stream allocates.
    static constexpr std::size_t MinCapacity = 256;

    explicit TMemoryStream(TMemoryBlockAllocator& allocator = TMemoryBlockAllocator::CLibrary());
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    TMemoryStream(TMemoryStream&& other) noexcept;
    TMemoryStream& operator=(TMemoryStream&& other) noexcept;

    // Writes at Position, growing the stream when needed; Position moves past the bytes.
    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t pos) { position_ = pos < 0 ? 0 : pos; }
    // Cuts the stream or extends it with zero bytes; a Position beyond the new end moves
    // to the end.
    void SetSize(std::int64_t size);
    void Clear();
    std::string_view Bytes() const { return {data_, size_}; }
    std::string ToString() const { return std::string(Bytes()); }

    // Room for at least `count` more bytes after Size without further growth, within the
    // growth rules (a hint; allocates nothing beyond what is asked).
    void Reserve(std::size_t count);
    std::size_t Capacity() const { return capacity_; }

    // Writing without an intermediate buffer: BeginWrite makes room for `count` bytes at
    // Position and returns where they go; EndWrite(n) then takes the first n of them into
    // the stream (n <= count) and moves Position past them. Bytes put there and not taken
    // are not part of the stream. The pointer is valid until the next call that changes
    // the stream.
    char* BeginWrite(std::size_t count) override;
    void EndWrite(std::size_t count) override;
    void CutAtPosition() override
    {
        if (Size() > position_)
            SetSize(position_);
    }

private:
    void EnsureCapacity(std::size_t needed);

    TMemoryBlockAllocator* allocator_;
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::int64_t position_ = 0;
};
