#pragma once
// The header values of an answer: the entity values plus where it points (Location), who
// sent it (Server), its proxy connection wish and its authentication challenges, all taken
// from the raw header list once the header block has been read.

#include "http/IdEntityHeaderInfo.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <string>
#include <vector>

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo() = default;
    void Clear() override;

    // Reads every value from RawHeaders (names without regard to case; for single values the
    // first line wins). Dates are read with the internet date parser into local time.
    // Neither "Expires" nor "Content-Range" can fail the answer: a number of seconds in
    // "Expires" counts from now whatever its size, and a range part that is not a number
    // leaves the range at 0. Both values are informational and never worth a lost download.
    void ProcessHeaders(platform::System& system);

    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    std::string TransferEncoding;
    // True when "Content-Length" held a valid length (0 or more).
    bool HasContentLength = false;
    std::vector<std::string> WWWAuthenticate;
    std::vector<std::string> ProxyAuthenticate;
};
