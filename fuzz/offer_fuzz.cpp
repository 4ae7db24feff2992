// A check answer and a "PublicKey" text through the signed-offer verification: keys that do
// not decode, signatures that are not DER, fields of any shape. It must never crash, and an
// accepted offer must promise exactly what its fields say.
//
// Input: the key text (libFuzzer's length-prefixed string), then the answer's bytes.

#include "FuzzSupport.h"

#include "platform/posix/OpenSslCrypto.h"
#include "platform/runtime/Base64.h"
#include "platform/system/ProfileParser.h"
#include "update/SignedOffer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string keys = in.ConsumeRandomLengthString(1024);
    const std::string answer = in.ConsumeRemainingBytesAsString();
    const OfferLookup lookup = [&answer](const std::string& key) { return ReadProfileString(answer, "web", key, ""); };

    // The reader's values hold no line end, so the message always has its nine lines.
    const std::string message = SignedOfferMessage(lookup);
    FUZZ_CHECK(std::count(message.begin(), message.end(), '\n') == 9);
    FUZZ_CHECK(message.rfind(kSignedOfferHeader, 0) == 0);

    for (const std::string& key : ParsePublicKeys(keys))
        FUZZ_CHECK(Base64Decode(Base64Encode(key)) == key);

    static const platform::OpenSslCrypto crypto;
    const TDateTime now = EncodeDateTime({.year = 2026, .month = 12, .day = 8});
    const OfferVerdict verdict = VerifyOffer(crypto, keys, lookup, "My App", now);
    if (verdict.Check == OfferCheck::Accepted) {
        FUZZ_CHECK(lookup("AppName") == "My App");
        FUZZ_CHECK(std::to_string(verdict.Installer.Size) == lookup("SetupSize") ||
                   lookup("SetupSize").find_first_not_of('0') != 0); // leading zeros read the same
        FUZZ_CHECK(Sha256Hex(verdict.Installer.Sha256) == lookup("SetupSha256"));
        const auto expires = ParseUtcTimestamp(lookup("Expires"));
        FUZZ_CHECK(expires && *expires > now);
    }
    return 0;
}
