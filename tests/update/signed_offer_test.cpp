// The signed offer: its message form (fixed for publishers' tools), the verdicts, and the
// parsers of its fields, with the Linux security services underneath.

#include "platform/posix/OpenSslCrypto.h"
#include "platform/runtime/Base64.h"
#include "platform/system/ProfileParser.h"
#include "tests/support/OfferVerdictCases.h"
#include "update/SignedOffer.h"

#include <gtest/gtest.h>

#include <map>

using namespace platform;

namespace {

// One fixed example, made with the openssl command line:
//   openssl ecparam -name prime256v1 -genkey -noout -out key.pem
//   openssl pkey -in key.pem -pubout -outform DER | base64 -w0
//   printf '%s' "$message" | openssl dgst -sha256 -sign key.pem | base64 -w0
const std::string kFixedKey = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEJwzc+9IhPnCHxxJRyqAT9I5l6/MEIKPEwjpWdYY2xnlTI+"
                              "fylYq09Q63NzF4BUIHCzyKPg9Rx1+QnJ1UWw0YhA==";
const std::string kFixedSignature =
    "MEUCIQDxyNOLGE1ExxnuW6zxqc3vbfh0Ot+CB5KU5Ys/HAuzXAIgBdfGEdGTxXlKYMIPIn5iTdlDJZcyodS+"
    "Rz54gNnWDQw=";
const std::string kFixedMessage = "update-offer-v1\n"
                                  "AppName=My App\n"
                                  "buildId=2013\n"
                                  "version=1.1\n"
                                  "whatnews=Faster downloads, a clearer window.\n"
                                  "SetupPath=http://127.0.0.1:8080/update/setup.exe\n"
                                  "SetupSize=6291456\n"
                                  "SetupSha256=4f2f4aced391fe613b70ef34b5e305d95f5befe2a99a6f7aa8514323b0857336\n"
                                  "Expires=2030-01-01T00:00:00Z\n";

std::map<std::string, std::string> FixedAnswer()
{
    return {{"AppName", "My App"},
            {"buildId", "2013"},
            {"version", "1.1"},
            {"whatnews", "Faster downloads, a clearer window."},
            {"SetupPath", "http://127.0.0.1:8080/update/setup.exe"},
            {"SetupSize", "6291456"},
            {"SetupSha256", "4f2f4aced391fe613b70ef34b5e305d95f5befe2a99a6f7aa8514323b0857336"},
            {"Expires", "2030-01-01T00:00:00Z"},
            {"Signature", kFixedSignature}};
}

OfferLookup LookupIn(const std::map<std::string, std::string>& answer)
{
    return [answer](const std::string& key) {
        auto it = answer.find(key);
        return it == answer.end() ? std::string() : it->second;
    };
}

const TDateTime k2026 = EncodeDateTime({.year = 2026, .month = 12, .day = 8, .hour = 12});

OfferCheck Check(const std::map<std::string, std::string>& answer, const std::string& keys = kFixedKey,
                 const std::string& app = "My App", TDateTime now = k2026)
{
    OpenSslCrypto crypto;
    return VerifyOffer(crypto, keys, LookupIn(answer), app, now).Check;
}

} // namespace

TEST(SignedOffer, TheFixedExampleHasItsMessageAndVerifies)
{
    EXPECT_EQ(SignedOfferMessage(LookupIn(FixedAnswer())), kFixedMessage);
    OpenSslCrypto crypto;
    const auto verdict = VerifyOffer(crypto, kFixedKey, LookupIn(FixedAnswer()), "My App", k2026);
    ASSERT_EQ(verdict.Check, OfferCheck::Accepted);
    EXPECT_EQ(verdict.Installer.Size, 6291456);
    EXPECT_EQ(Sha256Hex(verdict.Installer.Sha256), FixedAnswer()["SetupSha256"]);
    // Absent keys are empty lines of the message, not left out.
    EXPECT_EQ(SignedOfferMessage(LookupIn({})), "update-offer-v1\nAppName=\nbuildId=\nversion=\nwhatnews=\n"
                                                "SetupPath=\nSetupSize=\nSetupSha256=\nExpires=\n");
}

TEST(SignedOffer, VerdictsOnChangedAnswersKeysAndMoments)
{
    const std::string otherKey = Base64Encode(GenerateP256Key().PublicKeyDer);
    for (const char* field : kSignedOfferKeys) {
        auto answer = FixedAnswer();
        answer[field] += "x";
        EXPECT_EQ(Check(answer), OfferCheck::BadSignature) << field;
    }
    auto unsignedAnswer = FixedAnswer();
    unsignedAnswer.erase("Signature");
    auto junkSignature = FixedAnswer();
    junkSignature["Signature"] = "AAAA";
    const auto notBase64 = [] {
        auto a = FixedAnswer();
        a["Signature"] = a["Signature"].substr(1);
        return a;
    }();
    struct Case {
        const char* name;
        std::map<std::string, std::string> answer = FixedAnswer();
        std::string keys = kFixedKey;
        std::string app = "My App";
        TDateTime now = k2026;
        OfferCheck want;
    } cases[] = {
        {.name = "the second key signed", .keys = otherKey + " , " + kFixedKey, .want = OfferCheck::Accepted},
        {.name = "a junk key before the good one", .keys = "@@, " + kFixedKey, .want = OfferCheck::Accepted},
        {.name = "another key", .keys = otherKey, .want = OfferCheck::BadSignature},
        {.name = "keys that do not decode", .keys = "not base64, ===", .want = OfferCheck::NoUsableKey},
        {.name = "a key that is not DER", .keys = "AAAA", .want = OfferCheck::BadSignature},
        {.name = "no signature", .answer = unsignedAnswer, .want = OfferCheck::Unsigned},
        {.name = "a signature that is not base64", .answer = notBase64, .want = OfferCheck::Unsigned},
        {.name = "a signature that is not DER", .answer = junkSignature, .want = OfferCheck::BadSignature},
        {.name = "another application", .app = "My app", .want = OfferCheck::WrongApplication},
        {.name = "a second before expiry",
         .now = EncodeDateTime({.year = 2029, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 59}),
         .want = OfferCheck::Accepted},
        {.name = "at the moment of expiry",
         .now = EncodeDateTime({.year = 2030, .month = 1, .day = 1}),
         .want = OfferCheck::Expired},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Check(c.answer, c.keys, c.app, c.now), c.want) << c.name;
}

TEST(SignedOffer, FieldsThatASignatureCoversMustStillBeWellFormed)
{
    // Signed by the publisher, but unusable: the verdict is Malformed, never Accepted.
    const P256KeyPair key = GenerateP256Key();
    for (const auto& [field, value] : std::vector<std::pair<std::string, std::string>>{
             {"SetupSize", "-1"},
             {"SetupSize", "1234567890123456789"},
             {"SetupSize", ""},
             {"SetupSha256", std::string(64, 'A')},
             {"SetupSha256", std::string(63, 'a')},
             {"Expires", "2030-02-30T00:00:00Z"},
             {"Expires", "2030-01-01 00:00:00Z"},
         }) {
        auto answer = FixedAnswer();
        answer[field] = value;
        answer["Signature"] =
            Base64Encode(SignEcdsaP256Sha256(key.PrivateKeyPem, SignedOfferMessage(LookupIn(answer))));
        EXPECT_EQ(Check(answer, Base64Encode(key.PublicKeyDer)), OfferCheck::Malformed) << field << "=" << value;
    }
}

TEST(SignedOffer, FieldParsersAtTheirEdges)
{
    EXPECT_EQ(ParseSetupSize("0"), 0);
    EXPECT_EQ(ParseSetupSize("999999999999999999"), 999999999999999999);
    for (const char* bad : {"", " 1", "1 ", "+1", "1e3", "0x10", "1234567890123456789"})
        EXPECT_FALSE(ParseSetupSize(bad)) << bad;

    EXPECT_EQ(FormatUtcTimestamp(*ParseUtcTimestamp("2028-02-29T23:59:59Z")), "2028-02-29T23:59:59Z");
    for (const char* bad : {"2027-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-08T24:00:00Z",
                            "2026-12-08T12:00:00", "2026-12-08T12:00:00+01:00", "2026-1-08T12:00:00Z"})
        EXPECT_FALSE(ParseUtcTimestamp(bad)) << bad;

    const std::string hex = "00ff10" + std::string(58, 'e');
    ASSERT_TRUE(ParseSha256Hex(hex));
    EXPECT_EQ(Sha256Hex(*ParseSha256Hex(hex)), hex);
}

TEST(SignedOffer, Base64IsStrictSoOneTextHasOneReading)
{
    for (const std::string& bytes :
         std::vector<std::string>{"", "f", "fo", "foo", "foob", std::string("\0\xff\x10", 3)})
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
    EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
    for (const char* bad : {"Zm9", "Zm9vYh==", "Zm=v", "Zm9v YmFy", "Zg=", "=Zg="})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
    // Surrounding blanks and empty items of a key list are ignored.
    EXPECT_EQ(ParsePublicKeys(" Zm9v ,, YmFy "), (std::vector<std::string>{"foo", "bar"}));
}

TEST(SignedOffer, ThePublishersValuesAreThoseTheReaderGivesBack)
{
    EXPECT_FALSE(SignedValueProblem("Faster downloads; \"quoted\" words = fine"));
    EXPECT_FALSE(SignedValueProblem(std::string(2047, 'x')));
    for (const std::string& bad :
         {std::string(2048, 'x'), std::string(" lead"), std::string("trail\t"), std::string("two\nlines"),
          std::string("a\rb"), std::string("\"quoted\""), std::string("'quoted'"), std::string("nul\0byte", 8)})
        EXPECT_TRUE(SignedValueProblem(bad)) << bad;

    // What the tool writes, the updater reads back and accepts.
    const P256KeyPair key = GenerateP256Key();
    const SignedOfferFields fields = {
        "My App", "2013", "1.1", "Notes", "http://127.0.0.1/s.exe", "10", std::string(64, '0'), "2030-01-01T00:00:00Z"};
    const std::string answer =
        SignedOfferAnswer(fields, SignEcdsaP256Sha256(key.PrivateKeyPem, SignedOfferMessage(FieldsLookup(fields))));
    OpenSslCrypto crypto;
    EXPECT_EQ(VerifyOffer(
                  crypto, Base64Encode(key.PublicKeyDer),
                  [&](const std::string& k) { return ReadProfileString(answer, "web", k, ""); }, "My App", k2026)
                  .Check,
              OfferCheck::Accepted);
}

TEST(SignedOffer, TheSharedCasesGetTheirVerdictAndReason)
{
    // The same table drives "signoffer verify" (signoffer_test): the tool and the updater
    // judge alike.
    const testsupport::OfferKeys keys;
    OpenSslCrypto crypto;
    const TDateTime now = EncodeDateTime({.year = 2026, .month = 12, .day = 8, .hour = 12});
    for (const auto& c : testsupport::OfferVerdictCases()) {
        const std::string answer = keys.AnswerFor(c, now);
        const OfferVerdict v = VerifyOffer(
            crypto, keys.KeysFor(c), [&](const std::string& k) { return ReadProfileString(answer, "web", k, ""); },
            c.app, now);
        EXPECT_EQ(v.Check, c.want) << c.name << ": " << v.Reason;
        EXPECT_NE(v.Reason.find(c.reason), std::string::npos) << c.name << ": " << v.Reason;
    }
}
