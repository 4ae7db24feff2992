#pragma once
// One table of server certificates (tests/http/make_tls_certs.sh) and the verdict each must
// get, shared by the https tests of both platforms (OpenSSL on Linux, Schannel on Windows):
// both backends must judge every case alike, report the same kind and reason, and so give
// the user the same sentence.

#include "platform/tls/Tls.h"

#include <string>
#include <vector>

namespace testsupport {

// The CA file a case's client trusts besides the system's store.
enum class TlsCAFile { TestCA, None, OtherCA, Missing, NotPem };

struct TlsVerdictCase {
    const char* name;
    const char* cert; // the certificate the server serves
    const char* host; // the host the client asks for
    TlsCAFile caFile = TlsCAFile::TestCA;
    platform::TlsFailureKind kind = platform::TlsFailureKind::None;
    platform::TlsReason reason = platform::TlsReason::None;
    // "CLASS: MESSAGE" of the failure, with "{CA}" standing for the CA file's path; empty:
    // the body arrives.
    std::string error = {};
};

// The path of `file` among the certificates of the folder `certs`.
inline std::string CAFilePath(TlsCAFile file, const std::string& certs)
{
    switch (file) {
    case TlsCAFile::TestCA:
        return certs + "/ca.pem";
    case TlsCAFile::None:
        return "";
    case TlsCAFile::OtherCA:
        return certs + "/otherca.pem";
    case TlsCAFile::Missing:
        return "/nonexistent/ca.pem";
    case TlsCAFile::NotPem:
        return certs + "/ca.key"; // a key, not a certificate
    }
    return "";
}

// The case's error with the CA file's path in it.
inline std::string ExpectedError(const TlsVerdictCase& c, const std::string& caPath)
{
    std::string error = c.error;
    const auto at = error.find("{CA}");
    if (at != std::string::npos)
        error.replace(at, 4, caPath);
    return error;
}

inline const std::vector<TlsVerdictCase>& TlsVerdictCases()
{
    using K = platform::TlsFailureKind;
    using R = platform::TlsReason;
    static const std::string rejected = "EIdTLSCertificateRejected: The certificate of ";
    static const std::vector<TlsVerdictCase> cases = {
        {.name = "good, by address", .cert = "good", .host = "127.0.0.1"},
        {.name = "good, by name", .cert = "good", .host = "localhost"},
        {.name = "no CA file: the system's trust alone",
         .cert = "good",
         .host = "127.0.0.1",
         .caFile = TlsCAFile::None,
         .kind = K::Certificate,
         .reason = R::UnknownIssuer,
         .error = rejected + "127.0.0.1 was rejected: unable to get local issuer certificate (subject: "
                             "CN=localhost,O=Updater Tests)"},
        {.name = "wrong name, by address",
         .cert = "wrongname",
         .host = "127.0.0.1",
         .kind = K::Certificate,
         .reason = R::NameMismatch,
         .error = rejected + "127.0.0.1 was rejected: IP address mismatch (subject: CN=wrong.example,O=Updater Tests)"},
        {.name = "wrong name, by name",
         .cert = "wrongname",
         .host = "localhost",
         .kind = K::Certificate,
         .reason = R::NameMismatch,
         .error = rejected + "localhost was rejected: hostname mismatch (subject: CN=wrong.example,O=Updater Tests)"},
        {.name = "expired",
         .cert = "expired",
         .host = "localhost",
         .kind = K::Certificate,
         .reason = R::Expired,
         .error = rejected + "localhost was rejected: certificate has expired (subject: CN=localhost,O=Expired)"},
        {.name = "self-signed",
         .cert = "self",
         .host = "127.0.0.1",
         .kind = K::Certificate,
         .reason = R::SelfSigned,
         .error = rejected + "127.0.0.1 was rejected: self-signed certificate (subject: CN=localhost,O=Self Signed)"},
        {.name = "unknown CA, by address",
         .cert = "other",
         .host = "127.0.0.1",
         .kind = K::Certificate,
         .reason = R::UnknownIssuer,
         .error = rejected + "127.0.0.1 was rejected: unable to get local issuer certificate (subject: "
                             "CN=localhost,O=Other CA)"},
        {.name = "unknown CA, by name",
         .cert = "other",
         .host = "localhost",
         .kind = K::Certificate,
         .reason = R::UnknownIssuer,
         .error = rejected + "localhost was rejected: unable to get local issuer certificate (subject: "
                             "CN=localhost,O=Other CA)"},
        {.name = "the other CA trusted instead of the test CA",
         .cert = "good",
         .host = "localhost",
         .caFile = TlsCAFile::OtherCA,
         .kind = K::Certificate,
         .reason = R::UnknownIssuer,
         .error = rejected + "localhost was rejected: unable to get local issuer certificate (subject: "
                             "CN=localhost,O=Updater Tests)"},
        {.name = "the CA file cannot be read",
         .cert = "good",
         .host = "127.0.0.1",
         .caFile = TlsCAFile::Missing,
         .kind = K::Setup,
         .reason = R::CAFileUnreadable,
         .error = "EIdTLSError: Cannot load the trusted certificates of \"{CA}\": the file cannot be read"},
        {.name = "the CA file holds no certificate",
         .cert = "good",
         .host = "127.0.0.1",
         .caFile = TlsCAFile::NotPem,
         .kind = K::Setup,
         .reason = R::CAFileWithoutCertificates,
         .error = "EIdTLSError: Cannot load the trusted certificates of \"{CA}\": no PEM certificate in it"},
    };
    return cases;
}

} // namespace testsupport
