#pragma once
// What an answer's status line says and what the client does about it, as functions over
// bytes: the connection code feeds them the line it read and acts on the answer.

#include <optional>
#include <string>
#include <string_view>

// The status code of a status line: the word after the first blank, read as a decimal
// integer; -1 when there is none or it is not a number. The line is not required to
// begin with "HTTP/", so that an odd server still gets its status read.
int StatusCodeOf(std::string_view statusLine);

// "1.0" or "1.1" when characters 6 to 8 of the line are one of them; nothing otherwise
// (the caller then keeps the version it had).
std::optional<std::string> ResponseVersionOf(std::string_view statusLine);

// The interim answer that is skipped: another status line and header block follow it.
constexpr int kStatusContinue = 100;
// The proxy's demand for credentials.
constexpr int kStatusProxyAuthRequired = 407;

// What one answer leads to, before any handler has had its say.
enum class TIdHTTPStatusAction {
    Continue,       // 100: read the next answer head
    Redirect,       // 3xx other than 304, or any answer that names a Location
    Success,        // 2xx: deliver the body to the caller
    Authorize,      // 401: an attempt at the server's authorization
    ProxyAuthorize, // 407: an attempt at the proxy's authorization
    Fail,           // everything else: the protocol exception with the answer's body
};

// The outcome table. `hasLocation` is true when the answer carries a non-empty "Location",
// which makes any answer a redirect (a 304 that names one included).
TIdHTTPStatusAction ClassifyStatus(int code, bool hasLocation);

// Answers that never carry a body whatever their headers say: every 1xx, 204 and 304.
// Reading one of them "until close" would hang on a kept-alive connection and then raise a
// read time-out in place of the status the server gave.
bool StatusHasNoBody(int code);

// The redirect rule once OnRedirect (if any) has answered. `handled` is the value the
// handler left, preset to HandleRedirects. Within the limit a handled redirect is followed;
// at the limit a handled redirect finishes the Get with the redirect answer itself (there is
// no "too many redirects" error); an unhandled one fails with the protocol exception.
enum class TIdRedirectDecision { Follow, Finish, Fail };
TIdRedirectDecision DecideRedirect(bool handleRedirects, int redirectCount, int redirectMaximum, bool handled);
