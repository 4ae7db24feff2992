#pragma once
// The network exception family. Every class derives from EIdException, which derives
// from the common Exception base, carries its message text and reports its own class
// name (httpget prints it). Classes raised with a fixed text construct with that text
// by default; the texts are the system's own and are compared byte for byte.

#include "platform/runtime/Exception.h"

#include <string>

// A class whose default construction carries a fixed text; a message may still be given.
#define UPDATER_ID_EXCEPTION_TEXT(Name, Base, Text)                       \
    class Name : public Base {                                            \
    public:                                                               \
        using Base::Base;                                                 \
        Name() : Base(std::string(Text)) {}                               \
        const char* ClassName() const noexcept override { return #Name; } \
    }

UPDATER_EXCEPTION_CLASS(EIdException, Exception);

// --- Connection layer -----------------------------------------------------------------

UPDATER_EXCEPTION_CLASS(EIdSilentException, EIdException);
// The peer closed the connection, or a local close was seen during a wait.
UPDATER_ID_EXCEPTION_TEXT(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.");

UPDATER_EXCEPTION_CLASS(EIdSocketHandleError, EIdException);
UPDATER_ID_EXCEPTION_TEXT(EIdCouldNotBindSocket, EIdSocketHandleError,
                          "Could not bind socket. Address and port are already in use.");
// "Invalid Port Range (%d - %d)" with the range's minimum and maximum.
UPDATER_EXCEPTION_CLASS(EIdInvalidPortRange, EIdSocketHandleError);
// "Can not bind in port range (%d - %d)" with the range's minimum and maximum.
UPDATER_EXCEPTION_CLASS(EIdCanNotBindPortInRange, EIdSocketHandleError);

UPDATER_ID_EXCEPTION_TEXT(EIdAlreadyConnected, EIdException, "Already connected.");
UPDATER_ID_EXCEPTION_TEXT(EIdClosedSocket, EIdException, "Disconnected.");
UPDATER_ID_EXCEPTION_TEXT(EIdReadTimeout, EIdException, "Read Timeout");
UPDATER_ID_EXCEPTION_TEXT(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
UPDATER_ID_EXCEPTION_TEXT(EIdConnectTimeout, EIdException, "Connect timed out.");
// Carries the connect thread's error text.
UPDATER_EXCEPTION_CLASS(EIdConnectException, EIdException);

UPDATER_EXCEPTION_CLASS(EIdTCPConnectionError, EIdException);
UPDATER_ID_EXCEPTION_TEXT(EIdNotConnected, EIdTCPConnectionError, "Not Connected");
UPDATER_ID_EXCEPTION_TEXT(EIdNotEnoughDataInBuffer, EIdTCPConnectionError, "Not enough data in buffer.");
UPDATER_ID_EXCEPTION_TEXT(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");

// --- Socket stack -----------------------------------------------------------------------

// A socket failure: the message is the error's text ("Socket Error # %d\r\n%s") and the
// exception carries the Windows Sockets 2 number.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int errorNumber, std::string message) : EIdException(std::move(message)), errorNumber_(errorNumber)
    {
    }
    int LastError() const noexcept { return errorNumber_; }
    const char* ClassName() const noexcept override { return "EIdSocketError"; }

private:
    int errorNumber_;
};

// A failure of the socket library itself: a title, and when the number is not 0, ": " and
// the system's text for that number.
class EIdWS2StubError : public EIdException {
public:
    EIdWS2StubError(std::string title, int win32Error, std::string systemText)
        : EIdException(win32Error == 0 ? title : title + ": " + systemText), title_(std::move(title)),
          win32Error_(win32Error), systemText_(std::move(systemText))
    {
    }
    const std::string& Title() const noexcept { return title_; }
    int Win32Error() const noexcept { return win32Error_; }
    const std::string& SystemText() const noexcept { return systemText_; }
    const char* ClassName() const noexcept override { return "EIdWS2StubError"; }

private:
    std::string title_;
    int win32Error_;
    std::string systemText_;
};

UPDATER_EXCEPTION_CLASS(EIdStackError, EIdException);
UPDATER_ID_EXCEPTION_TEXT(EIdStackInitializationFailed, EIdStackError, "Winsock Initialization Error.");
UPDATER_ID_EXCEPTION_TEXT(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");
UPDATER_ID_EXCEPTION_TEXT(EIdInvalidSocket, EIdException, "Cannot allocate socket.");

// --- Addresses, requests and dates ------------------------------------------------------

// Composing a full address: "Protocol field is empty" or "Host field is empty".
UPDATER_EXCEPTION_CLASS(EIdURIException, EIdException);
// An address protocol other than http or https without a port; the message is empty.
UPDATER_EXCEPTION_CLASS(EIdUnknownProtocol, EIdException);
// The system could not tell the local offset from UTC.
UPDATER_ID_EXCEPTION_TEXT(EIdFailedToRetrieveTimeZoneInfo, EIdException,
                          "Failed attempting to retrieve time zone information.");

// --- HTTP client ----------------------------------------------------------------------

// An answer whose status is not a success, a handled redirect or a successful
// authorization. The message is the status line exactly as received; the exception also
// carries the status code (-1 when unreadable) and the answer's body as text.
class EIdHTTPProtocolException : public EIdException {
public:
    EIdHTTPProtocolException(std::string statusLine, int replyErrorCode, std::string errorMessage)
        : EIdException(std::move(statusLine)), replyErrorCode_(replyErrorCode), errorMessage_(std::move(errorMessage))
    {
    }
    int ReplyErrorCode() const noexcept { return replyErrorCode_; }
    const std::string& ErrorMessage() const noexcept { return errorMessage_; }
    const char* ClassName() const noexcept override { return "EIdHTTPProtocolException"; }

private:
    int replyErrorCode_;
    std::string errorMessage_;
};
// An "https" address on a client without a TLS transport.
UPDATER_ID_EXCEPTION_TEXT(EIdIOHandlerPropInvalid, EIdException, "IOHandler value is not valid");
// TLS failures; each text says what happened and to which host.
UPDATER_EXCEPTION_CLASS(EIdTLSError, EIdException);
// The server's certificate was rejected: the reason and the certificate's subject.
UPDATER_EXCEPTION_CLASS(EIdTLSCertificateRejected, EIdTLSError);
// The handshake ended without a secure connection (an alert, a protocol error, a server
// that closed or stayed silent).
UPDATER_EXCEPTION_CLASS(EIdTLSHandshakeFailed, EIdTLSError);
// The server closed a TLS connection without a close-notify before the body was complete.
UPDATER_ID_EXCEPTION_TEXT(EIdTLSStreamCutShort, EIdTLSError,
                          "The TLS stream ended without a close-notify before the body was complete.");
// A redirect from an https address to a plain http one.
UPDATER_EXCEPTION_CLASS(EIdTLSDowngrade, EIdTLSError);
// A proxy setting that cannot be followed, or a proxy that cannot be reached; the text
// names the proxy and where it was configured, never its credentials.
UPDATER_EXCEPTION_CLASS(EIdProxyError, EIdException);
UPDATER_EXCEPTION_CLASS(EIdProxyConnectError, EIdProxyError);
// A chunk-size line that holds no size or one too large to be real; the message quotes it.
UPDATER_EXCEPTION_CLASS(EIdHTTPInvalidChunkSize, EIdException);

// Bounds on what one answer may send before its body (see the limits in TIdHTTP). No honest
// server comes near them; a server that passes them is broken or hostile, and reading on
// would only cost memory and time.
UPDATER_ID_EXCEPTION_TEXT(EIdHTTPTooManyHeaderLines, EIdException, "Too many header lines.");
UPDATER_ID_EXCEPTION_TEXT(EIdHTTPHeaderBlockTooLarge, EIdException, "Header block too large.");
UPDATER_ID_EXCEPTION_TEXT(EIdHTTPTooManyInterimAnswers, EIdException, "Too many interim answers.");
