#pragma once
// The publisher's signature over the offer in the check answer, and what it promises about
// the installer.
//
// The signed message is made of the texts that the settings reader returns for the offer's
// keys (text lookups, no number conversion, empty when absent), so that what is verified is
// exactly what the run goes on to use. Its form is fixed; publishers' tools produce it:
//
//   update-offer-v1\n
//   AppName=<value>\n  buildId=<value>\n  version=<value>\n  whatnews=<value>\n
//   SetupPath=<value>\n  SetupSize=<value>\n  SetupSha256=<value>\n  Expires=<value>\n
//
// one line each, every line ending in one line feed, nothing after the last. The signature
// is ECDSA P-256 over SHA-256 of that message, DER, in base64; public keys are base64 DER
// SubjectPublicKeyInfo. An offer is accepted only when one of the configured keys verifies
// it, it names the installed application exactly, it has not expired, and its installer
// size and hash are well formed. Anything else refuses it: there is no fallback to the
// unsigned way.

#include "platform/crypto/Crypto.h"
#include "platform/runtime/DateTime.h"
#include "platform/crypto/forward.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The keys of the answer's section "web" that the signature covers, in message order.
inline constexpr std::array<const char*, 8> kSignedOfferKeys = {"AppName",   "buildId",   "version",     "whatnews",
                                                                "SetupPath", "SetupSize", "SetupSha256", "Expires"};
inline constexpr const char* kOfferSignatureKey = "Signature";
inline constexpr std::string_view kSignedOfferHeader = "update-offer-v1";

// The largest installer size a signed offer may give: 18 decimal digits always fit a
// 64-bit count, so the size can never wrap.
inline constexpr std::size_t kMaxSetupSizeDigits = 18;

// A text lookup in section "web" of the saved answer: the value, or "" when absent.
using OfferLookup = std::function<std::string(const std::string& key)>;

std::string SignedOfferMessage(const OfferLookup& lookup);

// The public keys of a "PublicKey" value: base64 texts separated by commas, blanks around
// each ignored. Texts that do not decode are left out (they can verify nothing).
std::vector<std::string> ParsePublicKeys(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" (UTC) as a date; nothing for any other text or an impossible date.
std::optional<TDateTime> ParseUtcTimestamp(std::string_view text);
std::string FormatUtcTimestamp(TDateTime utc);

// 64 lower-case hexadecimal digits as the digest they write; nothing otherwise.
std::optional<platform::Sha256Digest> ParseSha256Hex(std::string_view text);
std::string Sha256Hex(const platform::Sha256Digest& digest);

// Decimal digits only (no sign, no blanks), at most kMaxSetupSizeDigits; nothing otherwise.
std::optional<std::int64_t> ParseSetupSize(std::string_view text);

// The publisher's side. Why the settings reader would not give `value` back unchanged
// (line breaks, blanks at either end, enclosing quotes, a NUL, more than the reader's
// longest value), or nothing when it would.
std::optional<std::string> SignedValueProblem(std::string_view value);

// The offer's fields in message order (kSignedOfferKeys).
using SignedOfferFields = std::array<std::string, kSignedOfferKeys.size()>;
// A complete check answer: section "web" with every signed field and the signature
// (base64 of the DER signature over SignedOfferMessage of the same fields).
std::string SignedOfferAnswer(const SignedOfferFields& fields, std::string_view signatureDer);
// The lookup that reads the fields themselves, as the updater will read them back.
OfferLookup FieldsLookup(const SignedOfferFields& fields);

enum class OfferCheck {
    Accepted,
    NoUsableKey,      // keys are configured, but none decodes to bytes
    Unsigned,         // the answer has no signature, or one that is not base64
    BadSignature,     // no configured key verifies the signature over the message
    WrongApplication, // signed, but for another application
    Expired,          // signed, but "Expires" is not later than now
    Malformed,        // signed, but "Expires", "SetupSize" or "SetupSha256" is not well formed
};

// What an accepted offer promises about the installer.
struct SignedInstaller {
    std::int64_t Size = 0;
    platform::Sha256Digest Sha256{};
};

struct OfferVerdict {
    OfferCheck Check = OfferCheck::Unsigned;
    SignedInstaller Installer{}; // meaningful only when accepted
    // What decided the verdict, for the log and the publisher's tool: which field, which
    // time, which key (English, one line, no secret).
    std::string Reason{};
};

// The verdict's name as the log and the tool print it ("accepted", "expired", ...).
const char* OfferCheckName(OfferCheck check);

// Verifies the offer that `lookup` reads against `publicKeys` (the "PublicKey" text) for
// the application `appName`, at `nowUtc`.
OfferVerdict VerifyOffer(const platform::Crypto& crypto, std::string_view publicKeys, const OfferLookup& lookup,
                         std::string_view appName, TDateTime nowUtc);
