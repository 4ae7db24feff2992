#include "update/SignedOffer.h"

#include "platform/runtime/Base64.h"
#include "platform/runtime/Decimal.h"
#include "platform/system/ProfileParser.h"
#include "platform/runtime/Strings.h"

#include <cstdio>
#include <iterator>

namespace {

} // namespace

std::string SignedOfferMessage(const OfferLookup& lookup)
{
    std::string m(kSignedOfferHeader);
    m += '\n';
    for (const char* key : kSignedOfferKeys) {
        m += key;
        m += '=';
        m += lookup(key);
        m += '\n';
    }
    return m;
}

std::vector<std::string> ParsePublicKeys(std::string_view text)
{
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = Trim(text.substr(start, comma - start));
        if (auto der = Base64Decode(item); der && !der->empty())
            keys.push_back(std::move(*der));
        start = comma + 1;
    }
    return keys;
}

std::optional<TDateTime> ParseUtcTimestamp(std::string_view t)
{
    // 2026-12-08T13:45:00Z
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' || t[19] != 'Z')
        return std::nullopt;
    const std::string_view parts[] = {t.substr(0, 4),  t.substr(5, 2),  t.substr(8, 2),
                                      t.substr(11, 2), t.substr(14, 2), t.substr(17, 2)};
    int values[std::size(parts)];
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        const auto v = ParseDecimal(parts[i]); // digits only; four at most, so no overflow
        if (!v)
            return std::nullopt;
        values[i] = static_cast<int>(*v);
    }
    TSystemTime st;
    st.year = values[0];
    st.month = values[1];
    st.day = values[2];
    st.hour = values[3];
    st.minute = values[4];
    st.second = values[5];
    if (!IsValidDate(st.year, st.month, st.day) || st.hour > 23 || st.minute > 59 || st.second > 59)
        return std::nullopt;
    return EncodeDateTime(st);
}

std::string FormatUtcTimestamp(TDateTime utc)
{
    // Whole seconds, rounded so that a value a hair below a second does not show the one before.
    const TSystemTime t = DecodeDateTime(utc + 0.5 / kMsPerDay);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::optional<platform::Sha256Digest> ParseSha256Hex(std::string_view text)
{
    if (text.size() != 64)
        return std::nullopt;
    platform::Sha256Digest d{};
    for (std::size_t i = 0; i < 64; ++i) {
        const char c = text[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            return std::nullopt; // upper case too: one digest, one text
        d[i / 2] = static_cast<unsigned char>(d[i / 2] << 4 | v);
    }
    return d;
}

std::string Sha256Hex(const platform::Sha256Digest& digest)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : digest) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}

std::optional<std::int64_t> ParseSetupSize(std::string_view text)
{
    const auto v = ParseDecimal(text, kDecimalNoMaximum, kMaxSetupSizeDigits);
    if (!v)
        return std::nullopt;
    return static_cast<std::int64_t>(*v); // 18 digits fit 63 bits
}

const char* OfferCheckName(OfferCheck check)
{
    switch (check) {
    case OfferCheck::Accepted:
        return "accepted";
    case OfferCheck::NoUsableKey:
        return "no usable key";
    case OfferCheck::Unsigned:
        return "unsigned";
    case OfferCheck::BadSignature:
        return "bad signature";
    case OfferCheck::WrongApplication:
        return "another application";
    case OfferCheck::Expired:
        return "expired";
    case OfferCheck::Malformed:
        return "malformed";
    }
    return "unknown";
}

namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The signature over the message, by one of the keys: the index of the key that verifies,
// or nothing.
std::optional<std::size_t> VerifyingKey(const platform::Crypto& crypto, const std::vector<std::string>& keys,
                                        const std::string& message, const std::string& signature)
{
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (crypto.VerifyEcdsaP256Sha256(keys[i], message, signature))
            return i;
    return std::nullopt;
}

// The fields a verified signature covers, judged for this installation and this moment.
OfferVerdict JudgeSignedFields(const OfferLookup& lookup, std::string_view appName, TDateTime nowUtc)
{
    const std::string app = lookup("AppName");
    if (app != appName)
        return {OfferCheck::WrongApplication,
                {},
                "AppName " + Quoted(app) + " is not the installed application " + Quoted(appName)};
    const std::string expiresText = lookup("Expires");
    const std::string sizeText = lookup("SetupSize");
    const std::string shaText = lookup("SetupSha256");
    const auto expires = ParseUtcTimestamp(expiresText);
    if (!expires)
        return {
            OfferCheck::Malformed, {}, "Expires " + Quoted(expiresText) + " is not a UTC time YYYY-MM-DDTHH:MM:SSZ"};
    const auto size = ParseSetupSize(sizeText);
    if (!size)
        return {OfferCheck::Malformed,
                {},
                "SetupSize " + Quoted(sizeText) + " is not a decimal size of at most " +
                    std::to_string(kMaxSetupSizeDigits) + " digits"};
    const auto sha = ParseSha256Hex(shaText);
    if (!sha)
        return {OfferCheck::Malformed, {}, "SetupSha256 " + Quoted(shaText) + " is not 64 lower-case hex digits"};
    if (!(*expires > nowUtc))
        return {OfferCheck::Expired,
                {},
                "the offer expired at " + expiresText + " (now " + FormatUtcTimestamp(nowUtc) +
                    "): check the computer's clock"};
    return {OfferCheck::Accepted, SignedInstaller{*size, *sha},
            "expires " + expiresText + ", installer " + sizeText + " bytes, SHA-256 " + shaText};
}

} // namespace

OfferVerdict VerifyOffer(const platform::Crypto& crypto, std::string_view publicKeys, const OfferLookup& lookup,
                         std::string_view appName, TDateTime nowUtc)
{
    const std::vector<std::string> keys = ParsePublicKeys(publicKeys);
    if (keys.empty())
        return {OfferCheck::NoUsableKey, {}, "none of the configured keys is base64"};
    const std::string signatureText = lookup(kOfferSignatureKey);
    if (signatureText.empty())
        return {OfferCheck::Unsigned, {}, "the answer has no Signature"};
    const std::optional<std::string> signature = Base64Decode(signatureText);
    if (!signature || signature->empty())
        return {OfferCheck::Unsigned, {}, "the Signature is not base64"};

    const auto key = VerifyingKey(crypto, keys, SignedOfferMessage(lookup), *signature);
    if (!key)
        return {OfferCheck::BadSignature,
                {},
                "no configured key verifies the signature (" + std::to_string(keys.size()) + " key" +
                    (keys.size() == 1 ? "" : "s") + " tried)"};

    // The signature holds: the fields below are the publisher's, but they must still fit
    // this installation and this moment.
    OfferVerdict verdict = JudgeSignedFields(lookup, appName, nowUtc);
    if (verdict.Check == OfferCheck::Accepted)
        verdict.Reason = "signed by configured key " + std::to_string(*key + 1) + " of " + std::to_string(keys.size()) +
                         ", " + verdict.Reason;
    return verdict;
}

std::optional<std::string> SignedValueProblem(std::string_view value)
{
    if (value.size() > kMaxProfileValue)
        return "is longer than " + std::to_string(kMaxProfileValue) + " bytes";
    for (char c : value) {
        if (c == '\r' || c == '\n')
            return "contains a line break";
        if (c == '\0')
            return "contains a NUL byte";
    }
    if (!value.empty() &&
        (static_cast<unsigned char>(value.front()) <= 32 || static_cast<unsigned char>(value.back()) <= 32))
        return "begins or ends with a blank or control character";
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return "is enclosed in quotes, which the reader removes";
    return std::nullopt;
}

OfferLookup FieldsLookup(const SignedOfferFields& fields)
{
    return [fields](const std::string& key) -> std::string {
        for (std::size_t i = 0; i < kSignedOfferKeys.size(); ++i)
            if (key == kSignedOfferKeys[i])
                return fields[i];
        return {};
    };
}

std::string SignedOfferAnswer(const SignedOfferFields& fields, std::string_view signatureDer)
{
    std::string out = "[web]\r\n";
    for (std::size_t i = 0; i < kSignedOfferKeys.size(); ++i)
        out += std::string(kSignedOfferKeys[i]) + "=" + fields[i] + "\r\n";
    out += std::string(kOfferSignatureKey) + "=" + Base64Encode(signatureDer) + "\r\n";
    return out;
}
