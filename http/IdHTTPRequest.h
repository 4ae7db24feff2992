#pragma once
// The request of one cycle: method, address/target, body source and connection type on
// top of the request header values; and the steps that turn it into bytes: preparing it
// against the client's current URL, and composing the request line and header lines.

#include "http/IdRequestHeaderInfo.h"
#include "http/forward.h"
#include "platform/runtime/forward.h"

#include <string>
#include <vector>

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };

// "GET", "HEAD", ...; "DELETE" for hmDelete, which has no word of its own otherwise.
const char* MethodWord(TIdHTTPMethod method);
// "1.0" or "1.1".
const char* VersionText(TIdHTTPProtocolVersion version);

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    TIdHTTPMethod Method = hmGet;
    // The address given to Get (or a redirect's "Location") until PrepareRequest turns it
    // into the request target.
    std::string URL;
    // The body of a POST or PUT; borrowed from the caller for the length of the call.
    const TMemoryStream* Source = nullptr;
    TIdHTTPConnectionType UseProxy = ctNormal;
};

// Splits the request's address and folds it into the client's current URL (path resolved
// against the current one, host kept when the address names none, port by the port rule),
// then sets the request target, Host, ContentLength, Username and Password.
// Throws EIdUnknownProtocol (empty message) for a protocol other than http or https without
// a port, and EIdException "This request method is supported in HTTP 1.1" for OPTIONS,
// TRACE, PUT and DELETE under 1.0.
void PrepareRequest(TIdURI& currentURL, TIdHTTPRequest& request, TIdHTTPProtocolVersion version);

// The keep-alive and TLS adjustments made once the connection type is known.
void ApplyConnectionType(TIdHTTPRequest& request, TIdHTTPProtocolVersion version);

// The request as lines without their CR LF: the request line, every non-empty header line in
// order ("Proxy-Authorization" and "Cookie" last) and the empty line that ends the head.
// Rebuilds the request's raw header list on the way. `cookie` is the cookie store's value for
// the current URL, "" when there is no store. Throws EIdException when a line would carry a
// CR or LF of its own, which would let an address or a value inject header lines.
std::vector<std::string> BuildRequestLines(TIdHTTPRequest& request, TIdHTTPProtocolVersion version,
                                           TIdProxyConnectionInfo& proxy, const std::string& cookie,
                                           platform::System& system);

// The lines joined with CR LF after each: the bytes written to the connection.
std::string RequestBytes(const std::vector<std::string>& lines);
