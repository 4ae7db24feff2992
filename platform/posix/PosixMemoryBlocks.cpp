#include "platform/posix/PosixMemoryBlocks.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

void* MapLarge(std::size_t size)
{
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    // Only a hint: without huge pages the block still works with ordinary ones.
    ::madvise(p, size, MADV_HUGEPAGE);
    return p;
}

} // namespace

PosixMemoryBlocks& PosixMemoryBlocks::Instance()
{
    static PosixMemoryBlocks blocks;
    return blocks;
}

void* PosixMemoryBlocks::Allocate(std::size_t size)
{
    return size >= LargeBlock ? MapLarge(size) : std::malloc(size);
}

void* PosixMemoryBlocks::Resize(void* block, std::size_t oldSize, std::size_t newSize)
{
    const bool wasLarge = oldSize >= LargeBlock;
    const bool large = newSize >= LargeBlock;
    if (!wasLarge && !large)
        return std::realloc(block, newSize);
    if (wasLarge && large) {
        void* p = ::mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return nullptr;
        if (newSize > oldSize)
            ::madvise(p, newSize, MADV_HUGEPAGE);
        return p;
    }
    // Crossing the boundary: a copy of at most LargeBlock bytes.
    void* p = Allocate(newSize);
    if (!p)
        return nullptr;
    std::memcpy(p, block, oldSize < newSize ? oldSize : newSize);
    Free(block, oldSize);
    return p;
}

void PosixMemoryBlocks::Free(void* block, std::size_t size)
{
    if (size >= LargeBlock)
        ::munmap(block, size);
    else
        std::free(block);
}

} // namespace platform
