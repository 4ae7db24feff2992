#pragma once
// Why a check failed or an answer was refused, as the one line the notes box adds for the
// user (in the user's language) and as the log's text of the failure. Classified from the
// class and text of what was thrown, or from the signed offer's verdict.

#include "localization/CatalogueEntry.h"
#include "update/SignedOffer.h"

#include <exception>
#include <optional>
#include <string>

enum class RunReason {
    None,                 // nothing more precise to say than the failure's own box
    CertificateUntrusted, // the server's certificate was rejected
    SecureConnection,     // another TLS failure
    ProxyCredentials,     // the proxy answered 407
    Proxy,                // the proxy could not be reached
    Unreachable,          // no connection to the server (refused, timed out, no such host)
    HttpStatus,           // the server answered with an error status
    AnswerTooLong,        // the answer passed the check answer's bound
    Expired,              // the signed offer has expired
    NotSigned,            // no configured key verifies it (or it carries no signature)
    OtherApplication,     // signed for another application
    Malformed,            // signed, but a field is not well formed
};

// What was thrown, as the run reports it.
struct FailureCause {
    RunReason Reason = RunReason::None;
    std::string ClassName; // the exception's class ("EIdSocketError"); "unknown" for a foreign one
    std::string Message;   // its text
    int HttpStatus = 0;    // the answer's status code, for an HTTP failure
};

// Classifies the exception in `failure` (rethrown and caught by class).
FailureCause ClassifyFailure(const std::exception_ptr& failure);
RunReason ReasonOfVerdict(OfferCheck check);
// The catalogue entry of the reason line; nothing for RunReason::None. The entry of
// HttpStatus is formatted with the status line, every other one is plain.
std::optional<CatalogueEntry> ReasonEntry(RunReason reason);
