#pragma once
// Forward declarations of the classes in platform/tls/:
// The TLS interface.

namespace platform {
class Tls;
struct TlsClientOptions;
struct TlsFailure;
class TlsSession;
} // namespace platform
