#pragma once
// TLS client sessions on OpenSSL's libssl, over memory buffers: TLS 1.2 and 1.3, the
// system's trust store (plus an optional CA file), SNI for names, and the check of the
// certificate's name or IP address.

#include "platform/tls/Tls.h"

namespace platform {

class OpenSslTls : public Tls {
public:
    std::unique_ptr<TlsSession> NewClientSession(const TlsClientOptions& options) const override;
};

} // namespace platform
