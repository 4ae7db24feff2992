#pragma once
// The proxy settings of a client and the scheme that makes its "Proxy-Authorization" line.
// With no proxy server, requests go directly to the address's host. The client fills these
// from its proxy resolver (when it has one) for each new address; without a resolver they
// stand as the caller set them.

#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"

#include <memory>
#include <string>

class TIdProxyConnectionInfo {
public:
    std::string ProxyServer;
    int ProxyPort = 0;
    std::string ProxyUsername;
    std::string ProxyPassword;
    bool BasicAuthentication = false;
    std::unique_ptr<TIdAuthentication> Authentication;
    // Where the proxy came from ("http_proxy", "update.ini" ...), for texts; may be empty.
    std::string Source;

    // "proxy HOST:PORT (from SOURCE)": where the connection goes, never the credentials.
    std::string Describe() const;

    // Writes "Proxy-Authorization" into the list when there is a value for it; a Basic
    // scheme is made from the proxy credentials and kept when BasicAuthentication is set.
    void SetHeaders(TIdHeaderList& headers);
};
