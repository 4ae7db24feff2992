#pragma once
// One table of signed offers and the verdict each must get, shared by the updater's
// verdict test (VerifyOffer in the test process) and the publisher's tool test
// ("signoffer verify" on a file): both must judge every case alike. The offers are made
// at test time around the real clock, so that the tool, which judges "now", and the test
// agree on what has expired.

#include "platform/posix/OpenSslCrypto.h"
#include "platform/runtime/Base64.h"
#include "update/SignedOffer.h"

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct OfferVerdictCase {
    const char* name;
    // Fields changed before signing, then changes made to the signed answer (the signature
    // included) after it.
    std::vector<std::pair<std::string, std::string>> before = {};
    std::vector<std::pair<std::string, std::string>> after = {};
    enum class Keys { Publisher, Stranger, StrangerThenPublisher, NotBase64 } keys = Keys::Publisher;
    const char* app = "My App"; // the installed application
    OfferCheck want = OfferCheck::Accepted;
    std::string reason = {}; // a part of the verdict's reason
};

inline const std::vector<OfferVerdictCase>& OfferVerdictCases()
{
    using K = OfferVerdictCase::Keys;
    static const std::vector<OfferVerdictCase> cases = {
        {.name = "accepted", .reason = "signed by configured key 1 of 1, expires "},
        {.name = "the second key signed", .keys = K::StrangerThenPublisher, .reason = "configured key 2 of 2"},
        {.name = "another key",
         .keys = K::Stranger,
         .want = OfferCheck::BadSignature,
         .reason = "no configured key verifies the signature (1 key tried)"},
        {.name = "a field changed after signing",
         .after = {{"buildId", "2999"}},
         .want = OfferCheck::BadSignature,
         .reason = "no configured key verifies the signature"},
        {.name = "no signature", .after = {{"Signature", ""}}, .want = OfferCheck::Unsigned, .reason = "no Signature"},
        {.name = "a signature that is not base64",
         .after = {{"Signature", "%%%"}},
         .want = OfferCheck::Unsigned,
         .reason = "not base64"},
        {.name = "keys that do not decode",
         .keys = K::NotBase64,
         .want = OfferCheck::NoUsableKey,
         .reason = "none of the configured keys is base64"},
        {.name = "another application",
         .app = "Other App",
         .want = OfferCheck::WrongApplication,
         .reason = "AppName \"My App\" is not the installed application \"Other App\""},
        {.name = "expired",
         .before = {{"Expires", "@past"}},
         .want = OfferCheck::Expired,
         .reason = "): check the computer's clock"},
        {.name = "an impossible date",
         .before = {{"Expires", "2030-02-30T00:00:00Z"}},
         .want = OfferCheck::Malformed,
         .reason = "Expires \"2030-02-30T00:00:00Z\" is not a UTC time"},
        {.name = "a size with a sign",
         .before = {{"SetupSize", "-1"}},
         .want = OfferCheck::Malformed,
         .reason = "SetupSize \"-1\" is not a decimal size"},
        {.name = "an upper-case hash",
         .before = {{"SetupSha256", std::string(64, 'A')}},
         .want = OfferCheck::Malformed,
         .reason = "SetupSha256 \"" + std::string(64, 'A') + "\" is not 64 lower-case hex digits"},
    };
    return cases;
}

// The publisher's and a stranger's key pairs, made once per process.
struct OfferKeys {
    platform::P256KeyPair publisher = platform::GenerateP256Key();
    platform::P256KeyPair stranger = platform::GenerateP256Key();

    std::string KeysFor(const OfferVerdictCase& c) const
    {
        const std::string pub = Base64Encode(publisher.PublicKeyDer);
        const std::string other = Base64Encode(stranger.PublicKeyDer);
        switch (c.keys) {
        case OfferVerdictCase::Keys::Publisher:
            return pub;
        case OfferVerdictCase::Keys::Stranger:
            return other;
        case OfferVerdictCase::Keys::StrangerThenPublisher:
            return other + ", " + pub;
        case OfferVerdictCase::Keys::NotBase64:
            return "not a key!";
        }
        return pub;
    }

    // The answer of the case, signed by the publisher, its expiry a day after `nowUtc`
    // ("@past": an hour before it).
    std::string AnswerFor(const OfferVerdictCase& c, TDateTime nowUtc) const
    {
        SignedOfferFields fields = {"My App",
                                    "2013",
                                    "1.1",
                                    "Notes",
                                    "http://127.0.0.1/setup.exe",
                                    "100",
                                    std::string(64, '0'),
                                    FormatUtcTimestamp(nowUtc + 1)};
        const auto set = [&fields, nowUtc](const std::string& key, const std::string& value) {
            for (std::size_t i = 0; i < kSignedOfferKeys.size(); ++i)
                if (key == kSignedOfferKeys[i])
                    fields[i] = value == "@past" ? FormatUtcTimestamp(nowUtc - 1.0 / 24) : value;
        };
        for (const auto& [key, value] : c.before)
            set(key, value);
        std::string signature = Base64Encode(
            platform::SignEcdsaP256Sha256(publisher.PrivateKeyPem, SignedOfferMessage(FieldsLookup(fields))));
        for (const auto& [key, value] : c.after) {
            if (key == kOfferSignatureKey)
                signature = value;
            else
                set(key, value);
        }
        std::string out = "[web]\r\n";
        for (std::size_t i = 0; i < kSignedOfferKeys.size(); ++i)
            out += std::string(kSignedOfferKeys[i]) + "=" + fields[i] + "\r\n";
        return out + kOfferSignatureKey + "=" + signature + "\r\n";
    }
};

} // namespace testsupport
