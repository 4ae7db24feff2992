#include "update/SignedFileCheck.h"

#include "platform/system/System.h"

#include <algorithm>

namespace {

// The kept part is read back in pieces of this size to be hashed.
constexpr std::size_t kHashPiece = std::size_t{1} << 20;

// A stream that takes nothing: the destination of a hash over bytes already on disk.
class TNullStream : public TStream {
public:
    void Write(const void*, std::size_t) override {}
    using TStream::Write;
    std::int64_t Size() const override { return 0; }
    std::int64_t Position() const override { return 0; }
};

} // namespace

TSignedFileCheck::TSignedFileCheck(SignedInstaller expected, const platform::Crypto& crypto, std::string mismatchText)
    : expected_(expected), crypto_(crypto), mismatchText_(std::move(mismatchText))
{
}

void TSignedFileCheck::Refuse() const { throw EInstallerMismatch(mismatchText_); }

void TSignedFileCheck::HashFile(platform::System& sys, const std::string& path, std::int64_t length,
                                THashingStream& hashed) const
{
    for (std::int64_t at = 0; at < length;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - at, kHashPiece));
        const std::string piece = sys.ReadFilePart(path, at, want);
        if (piece.empty())
            Refuse(); // the file is shorter than it was
        hashed.Absorb(piece.data(), piece.size());
        at += static_cast<std::int64_t>(piece.size());
    }
}

TStream& TSignedFileCheck::Start(platform::System& sys, const std::string& path, std::int64_t kept, TStream& file)
{
    if (kept > expected_.Size)
        Refuse();
    kept_ = kept;
    hashed_.reset();
    bounded_.emplace(file, expected_.Size - kept, mismatchText_);
    hashed_.emplace(*bounded_, crypto_.NewSha256());
    HashFile(sys, path, kept, *hashed_);
    return *hashed_;
}

void TSignedFileCheck::Verify()
{
    const bool whole = hashed_ && kept_ + bounded_->Taken() == expected_.Size && hashed_->Final() == expected_.Sha256;
    hashed_.reset();
    bounded_.reset();
    if (!whole)
        Refuse();
}

bool TSignedFileCheck::Matches(platform::System& sys, const std::string& path) const
{
    TNullStream nowhere;
    THashingStream hashed(nowhere, crypto_.NewSha256());
    try {
        HashFile(sys, path, expected_.Size, hashed);
    } catch (const Exception&) {
        return false;
    }
    return sys.FileSize(path) == expected_.Size && hashed.Final() == expected_.Sha256;
}
