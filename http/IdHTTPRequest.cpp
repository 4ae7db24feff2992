#include "http/IdHTTPRequest.h"

#include "http/IdException.h"
#include "http/IdProxyConnectionInfo.h"
#include "http/IdURI.h"
#include "platform/runtime/Convert.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"

const char* MethodWord(TIdHTTPMethod method)
{
    switch (method) {
    case hmHead:
        return "HEAD";
    case hmGet:
        return "GET";
    case hmPost:
        return "POST";
    case hmOptions:
        return "OPTIONS";
    case hmTrace:
        return "TRACE";
    case hmPut:
        return "PUT";
    case hmDelete:
        return "DELETE";
    case hmConnect:
        return "CONNECT";
    }
    return "GET";
}

const char* VersionText(TIdHTTPProtocolVersion version) { return version == pv1_0 ? "1.0" : "1.1"; }

void PrepareRequest(TIdURI& url, TIdHTTPRequest& request, TIdHTTPProtocolVersion version)
{
    const TIdURI next(request.URL);

    if (!next.Username.empty()) {
        request.Username = next.Username;
        request.Password = next.Password;
    }
    url.Username = request.Username;
    url.Password = request.Password;

    url.Path = TIdURI::ResolvePath(url.Path, next.Path);
    url.Document = next.Document;
    url.Params = next.Params;
    if (!next.Host.empty())
        url.Host = next.Host;
    url.Protocol = next.Protocol.empty() ? std::string("http") : next.Protocol;

    // A port named by the address wins. Otherwise a port that is only a protocol's default
    // follows the protocol, and any other port carries over from the earlier address.
    if (!next.Port.empty()) {
        url.Port = next.Port;
    } else {
        const int current = TryStrToInt(url.Port).value_or(0);
        if (current == 0 || current == 80 || current == 443) {
            if (SameText(url.Protocol, "http"))
                url.Port = "80";
            else if (SameText(url.Protocol, "https"))
                url.Port = "443";
            else
                throw EIdUnknownProtocol(std::string());
        }
    }

    if (request.Method == hmOptions && next.Document == "*")
        request.URL = "*";
    else
        request.URL = url.Path + url.Document + url.Params;

    if (version != pv1_1 && (request.Method == hmOptions || request.Method == hmTrace || request.Method == hmPut ||
                             request.Method == hmDelete))
        throw EIdException("This request method is supported in HTTP 1.1");

    if ((request.Method == hmPost || request.Method == hmPut) && request.Source)
        request.ContentLength = request.Source->Size();
    else
        request.ContentLength = -1;

    request.Host = url.Port == "80" ? url.Host : url.Host + ":" + url.Port;
}

void ApplyConnectionType(TIdHTTPRequest& request, TIdHTTPProtocolVersion version)
{
    switch (request.UseProxy) {
    case ctNormal:
        if (version == pv1_0 && request.Connection.empty())
            request.Connection = "keep-alive";
        break;
    case ctProxy:
        if (version == pv1_0 && request.Connection.empty())
            request.ProxyConnection = "keep-alive";
        break;
    case ctSSL:
    case ctSSLProxy:
        request.Connection.clear();
        break;
    }
}

std::vector<std::string> BuildRequestLines(TIdHTTPRequest& request, TIdHTTPProtocolVersion version,
                                           TIdProxyConnectionInfo& proxy, const std::string& cookie,
                                           platform::System& system)
{
    request.SetHeaders(system);
    proxy.SetHeaders(request.RawHeaders);
    if (!cookie.empty())
        request.RawHeaders.SetValue("Cookie", cookie);

    std::vector<std::string> lines;
    lines.reserve(request.RawHeaders.Count() + 2);
    lines.push_back(std::string(MethodWord(request.Method)) + " " + request.URL + " HTTP/" + VersionText(version));
    for (const std::string& line : request.RawHeaders.Lines())
        if (!line.empty())
            lines.push_back(line);
    for (const std::string& line : lines)
        if (line.find_first_of("\r\n") != std::string::npos)
            throw EIdException("Line break in request line or header");
    lines.emplace_back();
    return lines;
}

std::string RequestBytes(const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}
