#pragma once
// TLS client sessions on the system's own TLS (Schannel), over memory buffers: TLS 1.2 and,
// where the system offers it, 1.3; SNI for names. Schannel is told not to judge the
// server's certificate itself: the session checks the chain against the system's trust
// store (plus an optional PEM file of trusted certificates) and the name or IP address
// after the handshake, so that the verdicts and their texts are the same as on Linux.

#include "platform/tls/Tls.h"

namespace platform {

class SchannelTls : public Tls {
public:
    std::unique_ptr<TlsSession> NewClientSession(const TlsClientOptions& options) const override;
};

} // namespace platform
