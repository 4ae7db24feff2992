#include "http/IdRequestHeaderInfo.h"

#include "http/IdBasicAuthentication.h"
#include "http/IdDateTime.h"

void TIdRequestHeaderInfo::Clear()
{
    TIdEntityHeaderInfo::Clear();
    Accept = "text/html, */*";
    AcceptCharSet.clear();
    AcceptEncoding.clear();
    AcceptLanguage.clear();
    From.clear();
    Host.clear();
    Referer.clear();
    UserAgent = "Mozilla/3.0 (compatible; HTTP client)";
    Username.clear();
    Password.clear();
    ProxyConnection.clear();
    BasicAuthentication = false;
    Authentication.reset();
}

void TIdRequestHeaderInfo::SetHeaders(platform::System& system)
{
    SetEntityHeaders(system);
    TIdHeaderList& h = RawHeaders;
    auto put = [&h](const char* name, const std::string& value) {
        if (!value.empty())
            h.SetValue(name, value);
    };
    put("Proxy-Connection", ProxyConnection);
    put("Host", Host);
    put("Accept", Accept);
    put("Accept-Charset", AcceptCharSet);
    put("Accept-Encoding", AcceptEncoding);
    put("Accept-Language", AcceptLanguage);
    put("From", From);
    put("Referer", Referer);
    put("User-Agent", UserAgent);
    if (LastModified > 0)
        h.SetValue("If-Modified-Since", DateTimeToInternetStr(LastModified, LocalOffsetFromUTC(system)));
    if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
        std::string range = "bytes=" + std::to_string(ContentRangeStart) + "-";
        if (ContentRangeEnd != 0)
            range += std::to_string(ContentRangeEnd);
        h.SetValue("Range", range);
    }
    if (!Authentication && BasicAuthentication)
        Authentication = std::make_unique<TIdBasicAuthentication>(Username, Password);
    if (Authentication)
        put("Authorization", Authentication->Authentication());
}
