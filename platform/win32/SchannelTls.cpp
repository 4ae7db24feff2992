#include "platform/win32/SchannelTls.h"

#include "platform/runtime/Decimal.h"
#include "platform/win32/WindowsHeaders.h"

#define SECURITY_WIN32
// The newer credential form (SCH_CREDENTIALS) is declared only with this, and needs
// UNICODE_STRING from subauth.h.
#define SCHANNEL_USE_BLACKLISTS
#include <wincrypt.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

// A server that keeps asking for a client certificate gets the same empty answer each time;
// this many times ends the handshake instead of looping.
constexpr int kMaxCredentialRetries = 3;

std::string Hex(long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// What a status of the TLS provider means, in the words a server's administrator can act on.
std::string StatusText(SECURITY_STATUS status)
{
    const char* text = nullptr;
    switch (status) {
    case SEC_E_ILLEGAL_MESSAGE:
        text = "the message received was unexpected or badly formatted";
        break;
    case SEC_E_INVALID_TOKEN:
        text = "the server's answer is not TLS";
        break;
    case SEC_E_ALGORITHM_MISMATCH:
        text = "no protocol version or cipher in common with the server";
        break;
    case SEC_E_UNSUPPORTED_FUNCTION:
        text = "the server asked for something the client does not support";
        break;
    case SEC_E_DECRYPT_FAILURE:
        text = "a record could not be decrypted";
        break;
    case SEC_E_MESSAGE_ALTERED:
        text = "a record was altered on the way";
        break;
    case SEC_E_INCOMPLETE_CREDENTIALS:
    case SEC_E_NO_CREDENTIALS:
        text = "the server asked for a client certificate";
        break;
    case SEC_E_CONTEXT_EXPIRED:
        text = "the session has ended";
        break;
    case SEC_E_INTERNAL_ERROR:
        text = "internal error of the system's TLS";
        break;
    default:
        text = "the system's TLS reported an error";
        break;
    }
    return std::string(text) + " (" + Hex(status) + ")";
}

// A dotted IPv4 address into its four bytes; false for anything else (names, IPv6).
bool ParseDotted(const std::string& host, unsigned char (&bytes)[4])
{
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= host.size() || host[at] != '.')
                return false;
            ++at;
        }
        const DecimalPrefix octet = ReadDecimalPrefix(std::string_view(host).substr(at), 255, 3);
        if (octet.Digits == 0 || octet.TooLarge || (octet.Digits > 1 && host[at] == '0'))
            return false;
        bytes[part] = static_cast<unsigned char>(octet.Value);
        at += octet.Digits;
    }
    return at == host.size();
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

const char* ShortAttributeName(const char* oid)
{
    static const struct {
        const char* oid;
        const char* name;
    } names[] = {
        {"2.5.4.3", "CN"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "ST"},
        {"2.5.4.9", "street"},
        {"0.9.2342.19200300.100.1.25", "DC"},
        {"1.2.840.113549.1.9.1", "emailAddress"},
    };
    for (const auto& n : names)
        if (std::strcmp(n.oid, oid) == 0)
            return n.name;
    return oid;
}

// A certificate's subject as people read it, most significant part first:
// "CN=host,O=Organisation", as the Linux backend writes it.
std::string SubjectText(PCCERT_CONTEXT cert)
{
    if (!cert)
        return "(none)";
    CERT_NAME_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, cert->pCertInfo->Subject.pbData,
                             cert->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size) ||
        !info)
        return "(unknown)";
    std::string text;
    for (DWORD r = 0; r < info->cRDN; ++r) {
        const CERT_RDN& rdn = info->rgRDN[r];
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
            const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[a];
            if (!text.empty())
                text += a == 0 ? "," : "+";
            text += ShortAttributeName(attr.pszObjId);
            text += '=';
            const DWORD n =
                CertRDNValueToStrA(attr.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attr.Value), nullptr, 0);
            if (n > 1) {
                std::string value(n, '\0');
                CertRDNValueToStrA(attr.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attr.Value), value.data(), n);
                value.resize(n - 1);
                text += value;
            }
        }
    }
    LocalFree(info);
    return text.empty() ? "(empty)" : text;
}

// Whether the certificate names the address among its IP alternative names. The system's
// name check is made for host names; for an address it is made here, against the IP entries
// only, as the Linux backend does.
bool NamesAddress(PCCERT_CONTEXT cert, const unsigned char (&address)[4])
{
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    if (!extension)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size) ||
        !names)
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
                std::memcmp(entry.IPAddress.pbData, address, 4) == 0;
    }
    LocalFree(names);
    return found;
}

bool StoreHolds(HCERTSTORE store, PCCERT_CONTEXT cert)
{
    PCCERT_CONTEXT it = nullptr;
    while ((it = CertEnumCertificatesInStore(store, it)) != nullptr) {
        if (it->cbCertEncoded == cert->cbCertEncoded &&
            std::memcmp(it->pbCertEncoded, cert->pbCertEncoded, cert->cbCertEncoded) == 0) {
            CertFreeCertificateContext(it);
            return true;
        }
    }
    return false;
}

// A certificate chain built for the server's certificate, freed with it.
class Chain {
public:
    Chain() = default;
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;
    ~Chain()
    {
        if (context)
            CertFreeCertificateChain(context);
    }
    PCCERT_CHAIN_CONTEXT context = nullptr;
};

// What the checks found wrong with a certificate; Reason None when nothing.
struct Verdict {
    TlsReason Reason = TlsReason::None;
    std::string Detail = {};
};

Verdict Rejected(TlsReason reason, const char* words, long code)
{
    return {reason, std::string(words) + " (" + Hex(code) + ")"};
}

// The chain's error `error` (a CERT_E_ code, or one the trust status stands for) as a verdict.
Verdict PolicyVerdict(long error, const CERT_SIMPLE_CHAIN& chain)
{
    const CERT_CHAIN_ELEMENT* top = chain.rgpElement[chain.cElement - 1];
    switch (error) {
    case CERT_E_UNTRUSTEDROOT:
        if (!(top->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED))
            return Rejected(TlsReason::UnknownIssuer, "the issuer is not trusted", error);
        if (chain.cElement == 1)
            return Rejected(TlsReason::SelfSigned, "the certificate signed itself", error);
        return Rejected(TlsReason::Other, "self-signed certificate in certificate chain", error);
    case CERT_E_CHAINING:
        return Rejected(TlsReason::UnknownIssuer, "the issuer is not known", error);
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
        for (DWORD i = 0; i < chain.cElement; ++i)
            if (CertVerifyTimeValidity(nullptr, chain.rgpElement[i]->pCertContext->pCertInfo) < 0)
                return Rejected(TlsReason::NotYetValid, "not valid yet", error);
        return Rejected(TlsReason::Expired, "expired", error);
    case CERT_E_CN_NO_MATCH:
        return Rejected(TlsReason::NameMismatch, "the name does not match", error);
    case CERT_E_WRONG_USAGE:
        return Rejected(TlsReason::Other, "unsupported certificate purpose", error);
    case TRUST_E_CERT_SIGNATURE:
        return Rejected(TlsReason::Other, "certificate signature failure", error);
    case CRYPT_E_REVOKED:
        return Rejected(TlsReason::Other, "certificate revoked", error);
    default:
        return Rejected(TlsReason::Other, "the certificate chain does not verify", error);
    }
}

// The verdict for the first of the chain's trust errors that matters most.
Verdict TrustStatusVerdict(DWORD errors, const CERT_SIMPLE_CHAIN& chain)
{
    static const struct {
        DWORD status;
        long error;
    } order[] = {
        {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE},
        {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
        {CERT_TRUST_IS_REVOKED, CRYPT_E_REVOKED},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
    };
    if (errors == 0)
        return {};
    for (const auto& o : order)
        if (errors & o.status)
            return PolicyVerdict(o.error, chain);
    return Rejected(TlsReason::Other, "the certificate chain does not verify: trust status", static_cast<long>(errors));
}

// The chain of `cert` built from the system's stores as they are now, with the server's
// own intermediates (in the certificate's store) and the CA file's certificates offered
// beside them. False, with GetLastError's code, when it cannot be built.
bool BuildChain(PCCERT_CONTEXT cert, HCERTSTORE caStore, Chain& chain)
{
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (extra) {
        if (cert->hCertStore)
            CertAddStoreToCollection(extra, cert->hCertStore, 0, 0);
        if (caStore)
            CertAddStoreToCollection(extra, caStore, 0, 0);
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // An engine of its own reads the system's stores as they are now: the process-wide
    // one may keep the trust of its first use (wine's does), missing a root added since.
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    HCERTCHAINENGINE engine = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &engine))
        engine = nullptr; // the process-wide engine, then
    const BOOL built = CertGetCertificateChain(engine, cert, nullptr, extra, &para, 0, nullptr, &chain.context);
    if (extra)
        CertCloseStore(extra, 0);
    if (engine)
        CertFreeCertificateChainEngine(engine);
    return built && chain.context && chain.context->cChain > 0 && chain.context->rgpChain[0]->cElement > 0;
}

// The system's SSL policy for the chain: the name (for a host name) and the usage; a chain
// anchored in the CA file passes as if its root were in the system's store.
Verdict SslPolicyVerdict(PCCERT_CHAIN_CONTEXT chain, bool anchored, const std::wstring* serverName)
{
    std::wstring name = serverName ? *serverName : std::wstring();
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = anchored ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0;
    ssl.pwszServerName = serverName ? name.data() : nullptr;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = anchored ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result))
        return Rejected(TlsReason::Other, "the certificate chain cannot be checked", static_cast<long>(GetLastError()));
    if (result.dwError != 0)
        return PolicyVerdict(static_cast<long>(result.dwError), *chain->rgpChain[0]);
    return {};
}

// The certificates between BEGIN and END lines of a PEM text, into `store`; the count added.
int AddPemCertificates(const std::string& text, HCERTSTORE store)
{
    static const std::string begin = "-----BEGIN CERTIFICATE-----";
    static const std::string end = "-----END CERTIFICATE-----";
    int loaded = 0;
    for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        const std::size_t stop = text.find(end, at);
        if (stop == std::string::npos)
            break;
        const std::string block = text.substr(at, stop + end.size() - at);
        at = stop + end.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                 &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_USE_EXISTING,
                                             nullptr))
            ++loaded;
    }
    return loaded;
}

class SchannelSession : public TlsSession {
public:
    explicit SchannelSession(const TlsClientOptions& options)
        : host_(options.Host), isAddress_(ParseDotted(options.Host, address_))
    {
        Setup(options);
    }

    ~SchannelSession() override
    {
        if (haveContext_)
            DeleteSecurityContext(&context_);
        if (haveCredentials_)
            FreeCredentialsHandle(&credentials_);
        if (caStore_)
            CertCloseStore(caStore_, 0);
    }

    void PutReceived(const void* data, std::size_t count) override
    {
        // What the provider took, and the decrypted bytes once read, go before more comes.
        if (plainAt_ == plainEnd_ && inAt_ > 0) {
            in_.erase(0, inAt_);
            inAt_ = plainAt_ = plainEnd_ = 0;
        }
        in_.append(static_cast<const char*>(data), count);
    }

    std::string TakeToSend() override
    {
        std::string bytes;
        bytes.swap(out_);
        return bytes;
    }

    TlsStatus Handshake() override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        if (established_)
            return TlsStatus::Done;
        for (int retries = 0;;) {
            // The first step has nothing to answer; every later one needs the server's bytes.
            if (haveContext_ && !HaveInput())
                return TlsStatus::WantRead;
            const SECURITY_STATUS status = Step();
            // The server asked for a client certificate; there is none to give, and the
            // server decides whether to go on without one.
            if (status == SEC_I_CONTINUE_NEEDED ||
                (status == SEC_I_INCOMPLETE_CREDENTIALS && ++retries <= kMaxCredentialRetries))
                continue;
            if (status == SEC_E_OK)
                return Established();
            if (status == SEC_E_INCOMPLETE_MESSAGE)
                return TlsStatus::WantRead;
            return Fail({.Kind = TlsFailureKind::Handshake, .Reason = TlsReason::Other, .Detail = StatusText(status)});
        }
    }

    TlsStatus Available() override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        for (;;) {
            if (plainAt_ < plainEnd_)
                return TlsStatus::Done;
            if (closed_)
                return TlsStatus::Closed;
            const TlsStatus status = renegotiating_ ? Renegotiate() : HaveInput() ? DecryptOne() : TlsStatus::WantRead;
            if (status != TlsStatus::Done)
                return status;
        }
    }

    TlsStatus Read(void* buffer, std::size_t length, std::size_t& got) override
    {
        got = 0;
        const TlsStatus status = Available();
        if (status != TlsStatus::Done)
            return status;
        got = std::min(length, plainEnd_ - plainAt_);
        std::memcpy(buffer, in_.data() + plainAt_, got);
        plainAt_ += got;
        return TlsStatus::Done;
    }

    TlsStatus Write(const void* data, std::size_t count) override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        if (!established_)
            return Fail({.Kind = TlsFailureKind::Stream, .Reason = TlsReason::Other, .Detail = "no session yet"});
        const auto* bytes = static_cast<const char*>(data);
        while (count > 0) {
            const std::size_t n = std::min<std::size_t>(count, sizes_.cbMaximumMessage);
            const SECURITY_STATUS status = EncryptRecord(bytes, n);
            if (status != SEC_E_OK)
                return Fail({.Kind = TlsFailureKind::Stream, .Reason = TlsReason::Other, .Detail = StatusText(status)});
            bytes += n;
            count -= n;
        }
        return TlsStatus::Done;
    }

    void CloseNotify() override
    {
        if (!established_ || failure_.Kind != TlsFailureKind::None)
            return;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc description{SECBUFFER_VERSION, 1, &token};
        if (ApplyControlToken(&context_, &description) != SEC_E_OK)
            return;  // the close goes on without the alert
        Step(false); // produces the alert
    }

    const TlsFailure& Failure() const override { return failure_; }

    std::string Protocol() const override
    {
        if (!established_)
            return std::string();
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesA(const_cast<CtxtHandle*>(&context_), SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
            return std::string();
        if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)
            return "TLSv1.3";
        if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT)
            return "TLSv1.2";
        return "TLS (" + Hex(static_cast<long>(info.dwProtocol)) + ")";
    }

private:
    void Setup(const TlsClientOptions& options)
    {
        if (!options.CAFile.empty() && !LoadCAFile(options.CAFile))
            return;
        // The newer credential form is what offers TLS 1.3 on recent systems; where it is not
        // known the older one offers TLS 1.2. The certificate is judged here, not by Schannel.
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols =
            SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS modern{};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        modern.cTlsParameters = 1;
        modern.pTlsParameters = &parameters;
        SCHANNEL_CRED classic{};
        classic.dwVersion = SCHANNEL_CRED_VERSION;
        classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        classic.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
        for (void* form : {static_cast<void*>(&modern), static_cast<void*>(&classic)}) {
            status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                               form, nullptr, nullptr, &credentials_, nullptr);
            if (status == SEC_E_OK)
                break;
        }
        if (status != SEC_E_OK) {
            Fail({.Kind = TlsFailureKind::Setup, .Reason = TlsReason::Other, .Detail = StatusText(status)});
            return;
        }
        haveCredentials_ = true;
    }

    // The certificates of a PEM file, into a store of their own; false (and the failure set)
    // when the file cannot be read or holds none.
    bool LoadCAFile(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::string text;
        if (file)
            text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (!file && !file.eof()) {
            Fail({.Kind = TlsFailureKind::Setup, .Reason = TlsReason::CAFileUnreadable});
            return false;
        }
        caStore_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
        if (!caStore_) {
            Fail({.Kind = TlsFailureKind::Setup,
                  .Reason = TlsReason::Other,
                  .Detail = "no certificate store (" + Hex(static_cast<long>(GetLastError())) + ")"});
            return false;
        }
        if (AddPemCertificates(text, caStore_) == 0) {
            Fail({.Kind = TlsFailureKind::Setup, .Reason = TlsReason::CAFileWithoutCertificates});
            return false;
        }
        return true;
    }

    // Received bytes the provider has not taken yet.
    bool HaveInput() const { return inAt_ < in_.size(); }

    // One call of the handshake machine with what has been received (feed) or with nothing
    // (the first call, the close); what it produces is queued for sending, and what it did
    // not consume stays for the next call.
    SECURITY_STATUS Step(bool feed = true)
    {
        feed = feed && haveContext_;
        // The machine takes the received bytes from the start of the buffer.
        in_.erase(0, inAt_);
        inAt_ = plainAt_ = plainEnd_ = 0;
        SecBuffer input[2] = {
            {static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc inputDescription{SECBUFFER_VERSION, 2, input};
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, &output};
        ULONG attributes = 0;
        // A name goes out as the server name; an address is not a name to send.
        char* target = isAddress_ ? nullptr : host_.data();
        const SECURITY_STATUS status =
            InitializeSecurityContextA(&credentials_, haveContext_ ? &context_ : nullptr, target, kRequest, 0, 0,
                                       feed ? &inputDescription : nullptr, 0, haveContext_ ? nullptr : &context_,
                                       &outputDescription, &attributes, nullptr);
        if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                              status == SEC_I_INCOMPLETE_CREDENTIALS || status == SEC_E_INCOMPLETE_MESSAGE))
            haveContext_ = true;
        if (output.pvBuffer) {
            out_.append(static_cast<const char*>(output.pvBuffer), output.cbBuffer);
            FreeContextBuffer(output.pvBuffer);
        }
        if (status != SEC_E_INCOMPLETE_MESSAGE && feed) {
            const bool extra = input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer <= in_.size();
            inAt_ = extra ? in_.size() - input[1].cbBuffer : in_.size();
        }
        return status;
    }

    // The handshake is done: the record sizes, then the server's certificate.
    TlsStatus Established()
    {
        established_ = true;
        if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK)
            return Fail({.Kind = TlsFailureKind::Handshake,
                         .Reason = TlsReason::Other,
                         .Detail = "the record sizes are unknown."});
        return VerifyServer();
    }

    // A message of the protocol after the handshake, in the handshake machine: Done when
    // it took a step (the caller looks again), WantRead or Failed.
    TlsStatus Renegotiate()
    {
        if (!HaveInput())
            return TlsStatus::WantRead;
        const SECURITY_STATUS status = Step();
        if (status == SEC_E_OK)
            renegotiating_ = false;
        else if (status == SEC_E_INCOMPLETE_MESSAGE)
            return TlsStatus::WantRead;
        else if (status != SEC_I_CONTINUE_NEEDED)
            return Fail({.Kind = TlsFailureKind::Stream, .Reason = TlsReason::Other, .Detail = StatusText(status)});
        return TlsStatus::Done;
    }

    // Decrypts the first record of what has been received, in place: its bytes become the
    // decrypted ones, read from there. Done when the record was application data (possibly
    // none: the caller looks again) or a message of the protocol that was handled;
    // WantRead, Closed or Failed otherwise.
    TlsStatus DecryptOne()
    {
        char* const record = in_.data() + inAt_;
        const std::size_t size = in_.size() - inAt_;
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(size), SECBUFFER_DATA, record},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return TlsStatus::WantRead;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
            return Fail({.Kind = TlsFailureKind::Stream, .Reason = TlsReason::Other, .Detail = StatusText(status)});
        std::size_t extra = 0;
        plainAt_ = plainEnd_ = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) {
                plainAt_ = static_cast<std::size_t>(static_cast<const char*>(b.pvBuffer) - in_.data());
                plainEnd_ = plainAt_ + b.cbBuffer;
            } else if (b.BufferType == SECBUFFER_EXTRA) {
                extra = std::min<std::size_t>(b.cbBuffer, size); // the last bytes of the input
            }
        }
        inAt_ = in_.size() - extra;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            closed_ = true; // the server's close-notify
        } else if (status == SEC_I_RENEGOTIATE) {
            // A message of the protocol after the handshake (a new session ticket, a key
            // update, a renegotiation): the handshake machine takes the rest of the bytes.
            renegotiating_ = true;
        } else if (plainAt_ == plainEnd_ && !HaveInput()) {
            // Some implementations of the system's TLS answer the close-notify this way,
            // with no data and nothing left over, instead of with SEC_I_CONTEXT_EXPIRED.
            closed_ = true;
        }
        return TlsStatus::Done;
    }

    // Encrypts n bytes into one record at the end of what is to be sent.
    SECURITY_STATUS EncryptRecord(const char* bytes, std::size_t n)
    {
        std::string record(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
        std::memcpy(record.data() + sizes_.cbHeader, bytes, n);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &description, 0);
        if (status == SEC_E_OK)
            for (int i = 0; i < 3; ++i)
                out_.append(static_cast<const char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
        return status;
    }

    // The server's certificate after the handshake: its chain against the system's trust
    // and the CA file, its dates and usage, its name or address.
    TlsStatus VerifyServer()
    {
        PCCERT_CONTEXT cert = nullptr;
        if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert)
            return Fail({.Kind = TlsFailureKind::Certificate,
                         .Reason = TlsReason::NoCertificate,
                         .Detail = "the server sent no certificate"});
        Verdict verdict = Verify(cert);
        std::string subject = verdict.Reason == TlsReason::None ? std::string() : SubjectText(cert);
        CertFreeCertificateContext(cert);
        if (verdict.Reason == TlsReason::None)
            return TlsStatus::Done;
        return Fail({.Kind = TlsFailureKind::Certificate,
                     .Reason = verdict.Reason,
                     .Detail = std::move(verdict.Detail),
                     .Subject = std::move(subject)});
    }

    // Reason None when the certificate is good.
    Verdict Verify(PCCERT_CONTEXT cert) const
    {
        Chain chain;
        if (!BuildChain(cert, caStore_, chain))
            return Rejected(TlsReason::Other, "the certificate chain cannot be built",
                            static_cast<long>(GetLastError()));
        const CERT_SIMPLE_CHAIN& simple = *chain.context->rgpChain[0];
        const CERT_CHAIN_ELEMENT* top = simple.rgpElement[simple.cElement - 1];
        // A chain that ends in a certificate of the CA file is trusted as if that certificate
        // were in the system's store; the rest of the checks still apply.
        const bool anchored = caStore_ && StoreHolds(caStore_, top->pCertContext);
        // The chain's own verdict first: not every implementation of the SSL policy treats
        // a chain that stops short of any root (an unknown issuer) as untrusted. Revocation
        // is not asked for, as on Linux; an unknown status is no verdict.
        DWORD errors = chain.context->TrustStatus.dwErrorStatus;
        errors &= ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
        if (anchored)
            errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
        Verdict verdict = TrustStatusVerdict(errors, simple);
        if (verdict.Reason != TlsReason::None)
            return verdict;
        const std::wstring serverName = Wide(host_);
        verdict = SslPolicyVerdict(chain.context, anchored, isAddress_ ? nullptr : &serverName);
        // The system's name check is made for host names; an address is checked here.
        if (verdict.Reason == TlsReason::None && isAddress_ && !NamesAddress(cert, address_))
            return {TlsReason::NameMismatch, "the address is not among the certificate's IP entries"};
        return verdict;
    }

    TlsStatus Fail(TlsFailure failure)
    {
        if (failure_.Kind == TlsFailureKind::None)
            failure_ = std::move(failure);
        return TlsStatus::Failed;
    }

    std::string host_;
    unsigned char address_[4] = {};
    bool isAddress_;
    HCERTSTORE caStore_ = nullptr;
    CredHandle credentials_{};
    bool haveCredentials_ = false;
    CtxtHandle context_{};
    bool haveContext_ = false;
    SecPkgContext_StreamSizes sizes_{};
    bool established_ = false;
    bool renegotiating_ = false;
    bool closed_ = false;
    // Received bytes: in_[inAt_, end) not yet taken by the provider; before inAt_, the
    // records decrypted in place, whose bytes in_[plainAt_, plainEnd_) are not yet read.
    std::string in_;
    std::size_t inAt_ = 0;
    std::size_t plainAt_ = 0;
    std::size_t plainEnd_ = 0;
    std::string out_; // produced, not yet taken for sending
    TlsFailure failure_;
};

} // namespace

std::unique_ptr<TlsSession> SchannelTls::NewClientSession(const TlsClientOptions& options) const
{
    return std::make_unique<SchannelSession>(options);
}

} // namespace platform
