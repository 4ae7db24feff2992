#pragma once
// What the update window is given by whoever starts it: the toolkit, the system
// services, the command line and the built-in addresses. Borrowed references: the
// entry point (or a test) owns them and keeps them alive longer than the window.

#include "platform/crypto/forward.h"
#include "platform/proxy/forward.h"
#include "platform/system/forward.h"
#include "platform/tls/forward.h"
#include "platform/ui/forward.h"

#include "platform/runtime/Decimal.h"

#include <functional>
#include <string>
#include <vector>

// How long a hidden run may go on before it ends by itself: a server that trickles its
// answer must not keep an invisible updater alive for hours.
inline constexpr int kHiddenRunBudgetMs = 15 * 60 * 1000;
// The environment variable through which tests of the built program shorten that budget.
inline constexpr const char* kRunBudgetVariable = "UPDATER_TEST_RUN_BUDGET_MS";

// The budget of an unattended run: `shorter` (the variable's text, may be null) when it is
// a positive number of milliseconds below the built-in budget, else the built-in budget.
// It can only shorten a run, never lengthen one.
inline int UnattendedRunBudgetMs(const char* shorter)
{
    if (!shorter)
        return kHiddenRunBudgetMs;
    const auto ms = ParseDecimal(shorter, kHiddenRunBudgetMs - 1);
    return ms && *ms > 0 ? static_cast<int>(*ms) : kHiddenRunBudgetMs;
}

struct UpdaterEnvironment {
    platform::Application& App;
    platform::System& Sys;
    // The command line; element 0 is the program's own path.
    std::vector<std::string> Params;
    // Built-in addresses; "update.ini" may override them.
    std::string UpdateServer; // ends in "update/"
    std::string HomePage;     // no trailing separator
    // Replaces the system's connection test when set (tests, demos without a network).
    std::function<bool()> ConnectionTest = {};
    // The TLS provider for https addresses; null: https fails as an invalid transport.
    const platform::Tls* Tls = nullptr;
    // The built-in public keys of the publisher; "update.ini" may replace them.
    std::string PublicKey = {};
    // The security services; needed only when a key is configured (without them every
    // signed offer is refused).
    const platform::Crypto* Crypto = nullptr;
    int HiddenRunBudgetMs = kHiddenRunBudgetMs;
    // The system's proxy settings; null: direct unless "update.ini" names a proxy.
    platform::ProxyResolver* Proxy = nullptr;
};
