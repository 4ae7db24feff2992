#include "http/IdProxyConnectionInfo.h"

#include "http/IdBasicAuthentication.h"

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers)
{
    if (!Authentication && BasicAuthentication)
        Authentication = std::make_unique<TIdBasicAuthentication>(ProxyUsername, ProxyPassword);
    if (Authentication) {
        std::string value = Authentication->Authentication();
        if (!value.empty())
            headers.SetValue("Proxy-Authorization", value);
    }
}
