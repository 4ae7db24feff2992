#include "http/IdHTTPResponse.h"

#include "http/IdHTTPStatus.h"

void TIdHTTPResponse::Clear()
{
    TIdResponseHeaderInfo::Clear();
    ResponseText.clear();
}

int TIdHTTPResponse::ResponseCode() const { return StatusCodeOf(ResponseText); }

void TIdHTTPResponse::UpdateResponseVersion()
{
    if (const auto v = ResponseVersionOf(ResponseText))
        ResponseVersion = *v == "1.0" ? pv1_0 : pv1_1;
}
