#pragma once
// What the update window is given by whoever starts it: the toolkit, the system
// services, the command line and the built-in addresses. Borrowed references: the
// entry point (or a test) owns them and keeps them alive longer than the window.

#include "platform/crypto/forward.h"
#include "platform/proxy/forward.h"
#include "platform/system/forward.h"
#include "platform/tls/forward.h"
#include "platform/ui/forward.h"

#include <functional>
#include <string>
#include <vector>

// How long an unattended run (/hidden or /silent) may go on before it ends by itself: a
// server that trickles its answer must not keep an invisible updater alive for hours.
inline constexpr int kUnattendedRunBudgetMs = 15 * 60 * 1000;
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
    // How long a hidden or silent run may go on (its budget timer's interval).
    int UnattendedRunBudgetMs = kUnattendedRunBudgetMs;
    // The system's proxy settings; null: direct unless "update.ini" names a proxy.
    platform::ProxyResolver* Proxy = nullptr;
};
