#pragma once
// Forward declarations of the classes in platform/tls/:
// The TLS interface.

namespace platform {
class Tls;
struct TlsClientOptions;
class TlsSession;
} // namespace platform
