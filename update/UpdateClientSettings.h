#pragma once
// The settings the update window gives its HTTP client. Everything else keeps the client's
// defaults. httpget configures its client with the same function, so that it sees what the
// updater sees.

class TIdHTTP;

void ConfigureUpdateClient(TIdHTTP& http);
