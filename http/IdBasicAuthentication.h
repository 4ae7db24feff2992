#pragma once
// The Basic scheme: "Basic " followed by the base64 of "user:password", sent in one step.

#include "http/IdAuthentication.h"

#include <string>
#include <string_view>

class TIdBasicAuthentication : public TIdAuthentication {
public:
    TIdBasicAuthentication() = default;
    TIdBasicAuthentication(std::string username, std::string password)
    {
        Username = std::move(username);
        Password = std::move(password);
    }

    std::string Authentication() override;
    // Send the request once a user name is known; otherwise ask the program for one.
    TIdAuthWhatsNext Next() override { return Username.empty() ? wnAskTheProgram : wnDoRequest; }
    int Steps() const override { return 1; }
};

// Standard base64 (RFC 4648 alphabet) with "=" fill characters.
std::string EncodeBase64(std::string_view bytes);
