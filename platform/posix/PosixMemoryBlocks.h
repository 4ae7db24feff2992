#pragma once
// Memory blocks for big streams on Linux. A block of LargeBlock bytes or more sits at the
// start of a large reservation of address space (which costs nothing until touched) and
// grows in place by making more of the reservation usable: it is never moved or copied.
// Memory is committed only as the block grows, so a stream still holds no more than its
// bytes plus one growth step; each committed step is faulted in with one call.
//
// Transparent huge pages are not asked for: on our virtual machines the first write to a
// fresh huge page costs far more than to recycled small pages (zeroing dominated a 1 GiB
// download, several times slower), and blocks that move split them.
// Smaller blocks come from the C library.

#include "platform/runtime/MemoryStream.h"

#include <map>
#include <mutex>

namespace platform {

class PosixMemoryBlocks : public TMemoryBlockAllocator {
public:
    static constexpr std::size_t LargeBlock = std::size_t{2} << 20;
    // Address space set aside for one large block: room for any download a machine can
    // hold. A block that outgrows it moves to a new reservation.
    static constexpr std::size_t Reservation = std::size_t{64} << 30;

    void* Allocate(std::size_t size) override;
    void* Resize(void* block, std::size_t oldSize, std::size_t newSize) override;
    void Free(void* block, std::size_t size) override;

    static PosixMemoryBlocks& Instance();

private:
    void* AllocateLarge(std::size_t size);
    void FreeLarge(void* block);

    std::mutex mutex_;
    std::map<void*, std::size_t> reserved_; // large block -> size of its reservation
};

} // namespace platform
