#pragma once
// The client's answer object: one per client, reused by every request cycle and left
// holding the last answer after Get returns or fails.

#include "http/IdHTTPRequest.h"
#include "http/IdResponseHeaderInfo.h"
#include "platform/runtime/forward.h"

#include <string>

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    TIdHTTPResponse() = default;
    void Clear() override;

    // The first line of the answer without its line end.
    std::string ResponseText;
    // Read from the status line each time it is asked for; -1 when unreadable.
    int ResponseCode() const;
    // 1.0 or 1.1 from the status line; the previous value when the line names neither.
    TIdHTTPProtocolVersion ResponseVersion = pv1_1;
    // Takes the version from the status line when it names one.
    void UpdateResponseVersion();
    // The caller's stream during a Get; borrowed, never owned.
    TStream* ContentStream = nullptr;
};
