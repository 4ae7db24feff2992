#pragma once
// A filter in front of another stream that feeds every byte it passes on to a running
// SHA-256, so that a download is hashed as it arrives rather than read back afterwards.
// Bytes written straight into the destination's room (BeginWrite/EndWrite) are hashed in
// place, without a copy.
//
// The destination is borrowed and must outlive the filter; the hash is owned.

#include "platform/crypto/Crypto.h"
#include "platform/runtime/Stream.h"

#include <memory>

class THashingStream : public TStream {
public:
    THashingStream(TStream& destination, std::unique_ptr<platform::Sha256> hash);

    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return destination_.Size(); }
    std::int64_t Position() const override { return destination_.Position(); }
    char* BeginWrite(std::size_t count) override;
    void EndWrite(std::size_t count) override;
    void CutAtPosition() override { destination_.CutAtPosition(); }

    // Hashes bytes that are already in the destination (a part downloaded earlier) without
    // writing them again.
    void Absorb(const void* data, std::size_t count) { hash_->Update(data, count); }
    // The digest of everything hashed; ends the hash.
    platform::Sha256Digest Final() { return hash_->Final(); }

private:
    TStream& destination_;
    std::unique_ptr<platform::Sha256> hash_;
    char* room_ = nullptr;
};
