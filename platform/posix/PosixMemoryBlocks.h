#pragma once
// Memory blocks for big streams on Linux: blocks of LargeBlock bytes and more are
// anonymous mappings that ask for transparent huge pages and grow with mremap, so a body
// of a gigabyte costs a few hundred page faults instead of a quarter of a million and is
// never copied when its block grows. Smaller blocks come from the C library.

#include "platform/runtime/MemoryStream.h"

namespace platform {

class PosixMemoryBlocks : public TMemoryBlockAllocator {
public:
    static constexpr std::size_t LargeBlock = std::size_t{2} << 20;

    void* Allocate(std::size_t size) override;
    void* Resize(void* block, std::size_t oldSize, std::size_t newSize) override;
    void Free(void* block, std::size_t size) override;

    static PosixMemoryBlocks& Instance();
};

} // namespace platform
