// The memory stream's growth, sizing and direct writes; big streams are held once and
// never allocate far beyond the bytes they hold.
#include "platform/runtime/Exception.h"
#include "platform/runtime/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Counts calls and refuses blocks beyond a limit.
class CountingBlocks : public TMemoryBlockAllocator {
public:
    std::size_t limit = ~std::size_t{0};
    int allocations = 0;
    int resizes = 0;
    std::size_t largest = 0;
    void* Allocate(std::size_t size) override
    {
        ++allocations;
        largest = std::max(largest, size);
        return size > limit ? nullptr : std::malloc(size);
    }
    void* Resize(void* block, std::size_t, std::size_t newSize) override
    {
        ++resizes;
        largest = std::max(largest, newSize);
        return newSize > limit ? nullptr : std::realloc(block, newSize);
    }
    void Free(void* block, std::size_t) override { std::free(block); }
};

} // namespace

TEST(MemoryStream, SizePositionAndGapsBehaveAsAFile)
{
    TMemoryStream m;
    m.Write("abcdef");
    m.SetPosition(2);
    m.Write("XY");
    EXPECT_EQ(m.ToString(), "abXYef");
    EXPECT_EQ(m.Position(), 4);

    m.SetSize(3); // cuts, and a position beyond the end moves to it
    EXPECT_EQ(m.ToString(), "abX");
    EXPECT_EQ(m.Position(), 3);

    m.SetSize(5); // extends with zeros, position stays
    EXPECT_EQ(m.Bytes(), std::string_view("abX\0\0", 5));
    EXPECT_EQ(m.Position(), 3);

    m.SetPosition(8); // a write beyond the end leaves zero bytes between
    m.Write("!");
    EXPECT_EQ(m.Bytes(), std::string_view("abX\0\0\0\0\0!", 9));

    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, DirectWritesTakeOnlyWhatIsEnded)
{
    TMemoryStream m;
    m.Write("head:");
    char* at = m.BeginWrite(100);
    std::memcpy(at, "0123456789", 10);
    m.EndWrite(4);
    EXPECT_EQ(m.ToString(), "head:0123");
    EXPECT_EQ(m.Position(), 9);
    EXPECT_THROW(m.EndWrite(m.Capacity()), EOutOfMemory); // more than was made room for

    TMemoryStream moved(std::move(m));
    EXPECT_EQ(moved.ToString(), "head:0123");
    EXPECT_EQ(m.Size(), 0);
}

TEST(MemoryStream, BigStreamsGrowInBoundedStepsAndFailCleanly)
{
    CountingBlocks blocks;
    {
        TMemoryStream m(blocks);
        const std::string piece(1 << 20, 'z');
        for (int i = 0; i < 300; ++i) // 300 MiB written in 1 MiB pieces
            m.Write(piece);
        EXPECT_EQ(m.Size(), std::int64_t{300} << 20);
        // Never more than one growth step of room beyond the bytes held.
        EXPECT_LE(m.Capacity(), static_cast<std::size_t>(m.Size()) + TMemoryStream::MaxGrowthStep);
        EXPECT_EQ(blocks.allocations, 1);
        EXPECT_LT(blocks.resizes, 30);
    }

    blocks.limit = 1 << 20;
    TMemoryStream m(blocks);
    m.Write("kept");
    EXPECT_THROW(m.Write(std::string(2 << 20, 'x')), EOutOfMemory);
    EXPECT_EQ(m.ToString(), "kept"); // a failed growth leaves the stream as it was
    EXPECT_THROW(m.SetSize(std::int64_t{1} << 40), EOutOfMemory);
}
