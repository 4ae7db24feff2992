#pragma once
// An authentication scheme attached to a request: it holds the credentials and the
// challenge list of the answer, says what to do next, and gives the value of the
// "Authorization" (or "Proxy-Authorization") line.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TIdAuthWhatsNext { wnAskTheProgram, wnDoRequest, wnFail };

class TIdAuthentication {
public:
    virtual ~TIdAuthentication() = default;

    // The header value, e.g. "Basic dXNlcjpwYXNz".
    virtual std::string Authentication() = 0;
    // The step to take now: ask the program for credentials, send the request, or give up.
    virtual TIdAuthWhatsNext Next() = 0;
    // Number of request/answer exchanges the scheme needs.
    virtual int Steps() const = 0;
    int CurrentStep() const { return currentStep_; }
    virtual void Reset() { currentStep_ = 0; }

    std::string Username;
    std::string Password;
    // The challenge values of the answer ("WWW-Authenticate" or "Proxy-Authenticate").
    std::vector<std::string> AuthParams;

protected:
    int currentStep_ = 0;
};

// The scheme object for a challenge's scheme word (the text before its first blank),
// matched without regard to case; nothing for a scheme this client does not speak.
// Only "Basic" is registered.
std::unique_ptr<TIdAuthentication> CreateAuthentication(std::string_view scheme);
