#include "http/IdProxyConnectionInfo.h"

#include "http/IdBasicAuthentication.h"

std::string TIdProxyConnectionInfo::Describe() const
{
    std::string text = "proxy " + ProxyServer + ":" + std::to_string(ProxyPort);
    if (!Source.empty())
        text += " (from " + Source + ")";
    return text;
}

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
