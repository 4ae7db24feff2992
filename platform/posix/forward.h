#pragma once
// Forward declarations of the classes in platform/posix/:
// The POSIX and OpenSSL backend.

namespace platform {
class OpenSslCrypto;
class OpenSslTls;
struct P256KeyPair;
class PosixFileStream;
class PosixProxyResolver;
class PosixSockets;
class PosixSystem;
} // namespace platform
