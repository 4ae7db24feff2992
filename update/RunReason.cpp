#include "update/RunReason.h"

#include "http/IdException.h"
#include "platform/runtime/LimitStream.h"
#include "platform/runtime/Strings.h"

#include <array>
#include <utility>

namespace {

// A connection failure whose text names the proxy is the proxy's: the client says which
// way the connection went.
RunReason ConnectionReason(const std::string& message)
{
    return LowerCase(message).find("proxy") != std::string::npos ? RunReason::Proxy : RunReason::Unreachable;
}

RunReason ReasonOf(const Exception& e, int& httpStatus)
{
    if (const auto* http = dynamic_cast<const EIdHTTPProtocolException*>(&e)) {
        httpStatus = http->ReplyErrorCode();
        return httpStatus == 407 ? RunReason::ProxyCredentials : RunReason::HttpStatus;
    }
    if (dynamic_cast<const EIdTLSCertificateRejected*>(&e))
        return RunReason::CertificateUntrusted;
    if (dynamic_cast<const EIdTLSError*>(&e))
        return RunReason::SecureConnection;
    if (dynamic_cast<const EStreamLimitExceeded*>(&e))
        return RunReason::AnswerTooLong;
    if (dynamic_cast<const EIdSocketError*>(&e) || dynamic_cast<const EIdConnectException*>(&e) ||
        dynamic_cast<const EIdConnectTimeout*>(&e) || dynamic_cast<const EIdReadTimeout*>(&e))
        return ConnectionReason(e.Message());
    return RunReason::None;
}

} // namespace

FailureCause ClassifyFailure(const std::exception_ptr& failure)
{
    FailureCause cause;
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        cause.ClassName = e.ClassName();
        cause.Message = e.Message();
        cause.Reason = ReasonOf(e, cause.HttpStatus);
    } catch (const std::exception& e) {
        cause.ClassName = "std::exception";
        cause.Message = e.what();
    } catch (...) {
        cause.ClassName = "unknown";
    }
    return cause;
}

RunReason ReasonOfVerdict(OfferCheck check)
{
    switch (check) {
    case OfferCheck::Accepted:
        return RunReason::None;
    case OfferCheck::NoUsableKey:
    case OfferCheck::Unsigned:
    case OfferCheck::BadSignature:
        return RunReason::NotSigned;
    case OfferCheck::WrongApplication:
        return RunReason::OtherApplication;
    case OfferCheck::Expired:
        return RunReason::Expired;
    case OfferCheck::Malformed:
        return RunReason::Malformed;
    }
    return RunReason::None;
}

std::optional<CatalogueEntry> ReasonEntry(RunReason reason)
{
    static constexpr std::array<std::pair<RunReason, CatalogueEntry>, 11> kEntries = {{
        {RunReason::CertificateUntrusted, CatalogueEntry::ReasonCertificate},
        {RunReason::SecureConnection, CatalogueEntry::ReasonSecureConnection},
        {RunReason::ProxyCredentials, CatalogueEntry::ReasonProxyCredentials},
        {RunReason::Proxy, CatalogueEntry::ReasonProxy},
        {RunReason::Unreachable, CatalogueEntry::ReasonUnreachable},
        {RunReason::HttpStatus, CatalogueEntry::ReasonHttpStatus},
        {RunReason::AnswerTooLong, CatalogueEntry::ReasonAnswerTooLong},
        {RunReason::Expired, CatalogueEntry::ReasonExpired},
        {RunReason::NotSigned, CatalogueEntry::ReasonNotSigned},
        {RunReason::OtherApplication, CatalogueEntry::ReasonOtherApplication},
        {RunReason::Malformed, CatalogueEntry::ReasonMalformed},
    }};
    for (const auto& [r, entry] : kEntries)
        if (r == reason)
            return entry;
    return std::nullopt;
}
