#pragma once
// The checks of a download against what the publisher signed: every new byte passes a
// bound at the signed size (a byte past it ends the download before it is stored) and a
// running SHA-256 that has seen the bytes kept from an earlier run first; the verdict at
// the end wants exactly the signed size and hash.
//
// Lifetime: the crypto services are borrowed and must outlive the check; so must the
// stream given to Start, for as long as the filter it returns is written to.

#include "platform/crypto/HashingStream.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/LimitStream.h"
#include "update/SignedOffer.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <optional>
#include <string>

// The downloaded installer is not the one the publisher signed (size or hash).
UPDATER_EXCEPTION_CLASS(EInstallerMismatch, Exception);

class TSignedFileCheck {
public:
    // `mismatchText` is the message of every refusal.
    TSignedFileCheck(SignedInstaller expected, const platform::Crypto& crypto, std::string mismatchText);

    std::int64_t Size() const { return expected_.Size; }

    // A body that continues after the first `kept` bytes of the file at `path`, which is
    // `file`: those bytes are hashed now (a shorter file, or more bytes than signed, is a
    // mismatch), and the filter returned takes the new bytes on their way to `file`.
    TStream& Start(platform::System& sys, const std::string& path, std::int64_t kept, TStream& file);
    // After the body ended normally: throws EInstallerMismatch unless everything hashed is
    // exactly the signed size with the signed hash. Ends the check.
    void Verify();
    // Whether the complete file at `path` is what was signed (read and hashed whole).
    bool Matches(platform::System& sys, const std::string& path) const;
    // Throws EInstallerMismatch with the refusal's text.
    [[noreturn]] void Refuse() const;

private:
    void HashFile(platform::System& sys, const std::string& path, std::int64_t length, THashingStream& hashed) const;

    SignedInstaller expected_;
    const platform::Crypto& crypto_;
    std::string mismatchText_;
    std::int64_t kept_ = 0;
    std::optional<TLimitStream> bounded_;
    std::optional<THashingStream> hashed_;
};
