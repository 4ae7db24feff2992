// The BCrypt security services under wine, against vectors made with the openssl command line:
//   openssl ecparam -name prime256v1 -genkey -noout -out k.pem
//   openssl ec -in k.pem -pubout -outform DER | xxd -p
//   printf 'update-offer-v1\nAppName=Demo\n' | openssl dgst -sha256 -sign k.pem | xxd -p

#include "platform/win32/BCryptCrypto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(std::string_view hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

std::string HexOf(const platform::Sha256Digest& d)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : d) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

const std::string kKey = Hex("3059301306072a8648ce3d020106082a8648ce3d03010703420004433e0590a30d0626eae7793dc22df323"
                             "ec00e1cbb5b89cdfea9a8e7bad80ffa1187a65007fd982647bfad6d47933893b4521d52bdf105a645c25"
                             "3abc17ad8da4");
const std::string kOtherKey = Hex("3059301306072a8648ce3d020106082a8648ce3d03010703420004f27b5c7e85d9c771f27e720bbd"
                                  "cef2476d5f41eaf420c15584a3edaf0a69c7f7d804f22aaf7af09593b1237054a3db458341bcb687"
                                  "5f024956528faefaedbf1d");
const std::string kP384Key = Hex("3076301006072a8648ce3d020106052b8104002203620004a9e8217a582869871f8f9cb6178cf7dc95f"
                                 "4a99ff07d9748294eea322b1ca1cd9bd7ab4c6dec1c25f71bf439c38ab1a0998959b3d500dce2860d9"
                                 "d54f9613592d5fb64684862cb3c8156e0423bdd643b64f5333b46978dfd9e939ab50b097385");
const std::string kSignature = Hex("3045022100b0ca5c73ae5ec7f62bcaa0865d751f60d68e08217b1289f2b6aed1759193c96d0220"
                                   "5c0b32bc6ae4f84bde2baeb9ccb4f14a27c74e02b225c54bcbf07607f92a86cf");
const std::string kMessage = "update-offer-v1\nAppName=Demo\n";

TEST(BCryptCrypto, Sha256InPiecesMatchesTheKnownDigests)
{
    platform::BCryptCrypto crypto;
    struct Case {
        std::string input;
        const char* digest;
    } cases[] = {
        {.input = "", .digest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {.input = "abc", .digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {.input = std::string(1000000, 'a'),
         .digest = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        auto whole = crypto.NewSha256();
        whole->Update(c.input.data(), c.input.size());
        EXPECT_EQ(HexOf(whole->Final()), c.digest);
        // The same bytes fed in uneven pieces.
        auto pieces = crypto.NewSha256();
        for (std::size_t at = 0, step = 1; at < c.input.size(); at += step, step = step * 3 + 1)
            pieces->Update(c.input.data() + at, std::min(step, c.input.size() - at));
        EXPECT_EQ(HexOf(pieces->Final()), c.digest);
    }
}

TEST(BCryptCrypto, VerifiesWhatOpensslSignedAndNothingElse)
{
    platform::BCryptCrypto crypto;
    std::string flippedSig = kSignature;
    flippedSig[40] ^= 0x01;
    std::string flippedMessage = kMessage;
    flippedMessage[5] ^= 0x20;
    std::string flippedPoint = kKey;
    flippedPoint.back() ^= 0x01;
    struct Case {
        const char* name;
        std::string key, message, signature;
        bool ok;
    } cases[] = {
        {.name = "as signed", .key = kKey, .message = kMessage, .signature = kSignature, .ok = true},
        {.name = "message changed", .key = kKey, .message = flippedMessage, .signature = kSignature, .ok = false},
        {.name = "message cut", .key = kKey, .message = kMessage.substr(1), .signature = kSignature, .ok = false},
        {.name = "signature changed", .key = kKey, .message = kMessage, .signature = flippedSig, .ok = false},
        {.name = "another key", .key = kOtherKey, .message = kMessage, .signature = kSignature, .ok = false},
        {.name = "point off the curve", .key = flippedPoint, .message = kMessage, .signature = kSignature, .ok = false},
        {.name = "P-384 key", .key = kP384Key, .message = kMessage, .signature = kSignature, .ok = false},
        {.name = "junk key", .key = "junk", .message = kMessage, .signature = kSignature, .ok = false},
        {.name = "empty signature", .key = kKey, .message = kMessage, .signature = "", .ok = false},
        {.name = "signature with a byte after it",
         .key = kKey,
         .message = kMessage,
         .signature = kSignature + '\0',
         .ok = false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(crypto.VerifyEcdsaP256Sha256(c.key, c.message, c.signature), c.ok) << c.name;
}

TEST(BCryptCrypto, DerSignaturesUnpackOnlyWhenStrict)
{
    const std::string r33 = std::string("\x02\x21\x00\x80", 4) + std::string(31, '\x11');
    const std::string s1 = "\x02\x01\x05";
    struct Case {
        const char* name;
        std::string der;
        bool ok;
    } cases[] = {
        {.name = "padded r, short s",
         .der = "\x30" + std::string(1, char(r33.size() + s1.size())) + r33 + s1,
         .ok = true},
        {.name = "needless leading zero", .der = std::string("\x30\x07\x02\x02\x00\x05\x02\x01\x05", 9), .ok = false},
        {.name = "negative", .der = std::string("\x30\x06\x02\x01\x85\x02\x01\x05", 8), .ok = false},
        {.name = "zero", .der = std::string("\x30\x06\x02\x01\x00\x02\x01\x05", 8), .ok = false},
        {.name = "length beyond the bytes", .der = std::string("\x30\x09\x02\x01\x05\x02\x01\x05", 8), .ok = false},
        {.name = "one integer", .der = std::string("\x30\x03\x02\x01\x05", 5), .ok = false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::RawSignatureOfDer(c.der).has_value(), c.ok) << c.name;
    const auto raw = platform::RawSignatureOfDer("\x30" + std::string(1, char(r33.size() + s1.size())) + r33 + s1);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->size(), 64u);
    EXPECT_EQ(raw->substr(0, 32), r33.substr(3));
    EXPECT_EQ(raw->substr(32), std::string(31, '\0') + "\x05");
}

} // namespace
