#include "update/UpdateClientSettings.h"

#include "http/IdHTTP.h"

void ConfigureUpdateClient(TIdHTTP& http)
{
    // The leading blank of Accept is the window's own value and goes out as it stands.
    http.Request().Accept = " text/html ,*/*";
    http.Request().UserAgent = "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.9) Gecko/2008052906 Firefox/3.0";
    http.HTTPOptions = {hoForceEncodeParams};
    http.SetReadTimeout(0);
    http.SetMaxLineAction(maException);
    http.AllowCookies = true;
}

void ConfigureUpdateClientTls(TIdHTTP& http, const platform::Tls* tls, const std::string& caFile)
{
    http.SetTls(tls);
    http.SetCAFile(caFile);
}
