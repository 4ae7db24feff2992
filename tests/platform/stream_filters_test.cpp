// The filters that sit between a download and its destination: the size bound and the
// running hash, written to both ways (from a buffer, and straight into the room).

#include "platform/crypto/HashingStream.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/runtime/LimitStream.h"
#include "platform/runtime/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void WriteInto(TStream& s, const std::string& bytes, bool direct)
{
    if (!direct) {
        s.Write(bytes);
        return;
    }
    char* room = s.BeginWrite(bytes.size());
    std::memcpy(room, bytes.data(), bytes.size());
    s.EndWrite(bytes.size());
}

} // namespace

TEST(StreamFilters, TheLimitTakesExactlyItsBytesAndRefusesTheNextOne)
{
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "into the room" : "from a buffer");
        TMemoryStream memory;
        TLimitStream limit(memory, 10, "too long");
        WriteInto(limit, "12345", direct);
        WriteInto(limit, "67890", direct);
        EXPECT_EQ(limit.Taken(), 10);
        try {
            WriteInto(limit, "x", direct);
            FAIL() << "the 11th byte was taken";
        } catch (const EStreamLimitExceeded& e) {
            EXPECT_EQ(e.Message(), "too long");
        }
        // A write that would cross the limit leaves nothing of itself behind.
        EXPECT_EQ(memory.ToString(), "1234567890");
        EXPECT_EQ(limit.Taken(), 10);
    }
    TMemoryStream memory;
    TLimitStream nothing(memory, 0, "none");
    EXPECT_NO_THROW(nothing.Write("", 0));
    EXPECT_THROW(nothing.Write("a", 1), EStreamLimitExceeded);
}

TEST(StreamFilters, TheHashSeesWhatReachesTheDestinationAndWhatWasThereBefore)
{
    platform::OpenSslCrypto crypto;
    const std::string text = "The quick brown fox jumps over the lazy dog";
    auto reference = crypto.NewSha256();
    reference->Update(text.data(), text.size());
    const platform::Sha256Digest want = reference->Final();

    for (bool direct : {false, true}) {
        TMemoryStream memory;
        THashingStream hashed(memory, crypto.NewSha256());
        hashed.Absorb(text.data(), 4); // as if already on disk
        WriteInto(hashed, text.substr(4, 10), direct);
        WriteInto(hashed, text.substr(14), direct);
        EXPECT_EQ(memory.ToString(), text.substr(4));
        EXPECT_EQ(hashed.Final(), want) << direct;
    }
}

TEST(StreamFilters, TheBoundInFrontOfTheHashStopsAnEndlessWriterAtTheLimit)
{
    platform::OpenSslCrypto crypto;
    TMemoryStream memory;
    TLimitStream limit(memory, 1000, "over");
    THashingStream hashed(limit, crypto.NewSha256());
    const std::string block(300, 'z');
    std::int64_t written = 0;
    EXPECT_THROW(
        for (;;) {
            WriteInto(hashed, block, true);
            written += 300;
        },
        EStreamLimitExceeded);
    EXPECT_EQ(written, 900);
    EXPECT_EQ(memory.Size(), 900);
}
