#pragma once
// The proxy settings of a client and the scheme that makes its "Proxy-Authorization" line.
// The updater sets no proxy server; requests then go directly to the address's host.

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

    // Writes "Proxy-Authorization" into the list when there is a value for it; a Basic
    // scheme is made from the proxy credentials and kept when BasicAuthentication is set.
    void SetHeaders(TIdHeaderList& headers);
};
