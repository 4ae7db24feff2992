#include "platform/posix/PosixMemoryBlocks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23; // Linux 5.14
#endif

std::size_t RoundUp(std::size_t n, std::size_t unit)
{
    return (n + unit - 1) / unit * unit;
}

std::size_t PageSize()
{
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Makes [block + from, block + to) usable, rounded to whole pages, and faults its pages
// in with one call: the stream writes all of it soon, and one call costs less than a
// trap per page.
bool Commit(char* block, std::size_t from, std::size_t to)
{
    const std::size_t a = RoundUp(from, PageSize());
    const std::size_t b = RoundUp(to, PageSize());
    if (b <= a)
        return true;
    if (::mprotect(block + a, b - a, PROT_READ | PROT_WRITE) != 0)
        return false;
    // Only a speed-up: kernels before 5.14 do not know it, and the pages then fault in
    // one by one as they are written.
    ::madvise(block + a, b - a, kPopulateWrite);
    return true;
}

// Gives [block + from, block + to) back to the system and makes it unusable again.
void Decommit(char* block, std::size_t from, std::size_t to)
{
    const std::size_t a = RoundUp(from, PageSize());
    const std::size_t b = RoundUp(to, PageSize());
    if (b > a) {
        ::madvise(block + a, b - a, MADV_DONTNEED);
        ::mprotect(block + a, b - a, PROT_NONE);
    }
}

} // namespace

PosixMemoryBlocks& PosixMemoryBlocks::Instance()
{
    static PosixMemoryBlocks blocks;
    return blocks;
}

void* PosixMemoryBlocks::AllocateLarge(std::size_t size)
{
    const std::size_t reservation = RoundUp(size > Reservation ? size : Reservation, kHugePage);
    // Reserve one huge page more, so that the block can start on a huge-page boundary.
    const std::size_t span = reservation + kHugePage;
    void* p = ::mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    char* base = static_cast<char*>(p);
    char* block = reinterpret_cast<char*>(RoundUp(reinterpret_cast<std::uintptr_t>(base), kHugePage));
    if (block > base)
        ::munmap(base, static_cast<std::size_t>(block - base));
    if (char* end = block + reservation; end < base + span)
        ::munmap(end, static_cast<std::size_t>(base + span - end));
    if (!Commit(block, 0, size)) {
        ::munmap(block, reservation);
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    reserved_[block] = reservation;
    return block;
}

void PosixMemoryBlocks::FreeLarge(void* block)
{
    std::size_t reservation = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = reserved_.find(block);
        if (it == reserved_.end())
            return;
        reservation = it->second;
        reserved_.erase(it);
    }
    ::munmap(block, reservation);
}

void* PosixMemoryBlocks::Allocate(std::size_t size)
{
    return size >= LargeBlock ? AllocateLarge(size) : std::malloc(size);
}

void* PosixMemoryBlocks::Resize(void* block, std::size_t oldSize, std::size_t newSize)
{
    const bool wasLarge = oldSize >= LargeBlock;
    const bool large = newSize >= LargeBlock;
    if (!wasLarge && !large)
        return std::realloc(block, newSize);
    if (wasLarge && large) {
        std::size_t reservation;
        {
            std::lock_guard lock(mutex_);
            reservation = reserved_.at(block);
        }
        if (newSize <= reservation) {
            char* b = static_cast<char*>(block);
            if (newSize > oldSize)
                return Commit(b, oldSize, newSize) ? block : nullptr;
            Decommit(b, newSize, oldSize);
            return block;
        }
    }
    // Crossing between small and large, or outgrowing the reservation: a new block.
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
        FreeLarge(block);
    else
        std::free(block);
}

} // namespace platform
