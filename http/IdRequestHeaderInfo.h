#pragma once
// The header values a request carries beyond the entity values, with the credentials and
// the authentication scheme that make its "Authorization" line.

#include "http/IdAuthentication.h"
#include "http/IdEntityHeaderInfo.h"

#include <memory>
#include <string>

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo() = default;
    void Clear() override;

    std::string Accept = "text/html, */*";
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string From;
    std::string Host;
    std::string Referer;
    std::string UserAgent = "Mozilla/3.0 (compatible; HTTP client)";
    std::string Username;
    std::string Password;
    std::string ProxyConnection;
    bool BasicAuthentication = false;
    // The scheme chosen for this request's server; it stays attached across requests.
    std::unique_ptr<TIdAuthentication> Authentication;

    // Rebuilds the raw list from the values, in the order the lines are sent: the entity
    // lines, the custom lines, then the request lines up to "Authorization". A custom line
    // named like a later line is replaced in place by it.
    void SetHeaders(platform::System& system);
};
