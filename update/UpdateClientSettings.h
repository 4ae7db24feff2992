#pragma once
// The settings the update window gives its HTTP client. Everything else keeps the client's
// defaults. httpget configures its client with the same function, so that it sees what the
// updater sees.

#include "http/forward.h"
#include "platform/tls/forward.h"

#include <string>

void ConfigureUpdateClient(TIdHTTP& http);
// The TLS provider for https addresses (borrowed; null leaves https unavailable) and the
// extra trusted certificates (a PEM file; empty: the system's trust alone). Certificate and
// host-name checks are always on.
void ConfigureUpdateClientTls(TIdHTTP& http, const platform::Tls* tls, const std::string& caFile);
