#pragma once
// Forward declarations of the classes in platform/proxy/:
// The proxy-resolution interface and the portable readers of proxy settings.

namespace platform {
class ProxyResolver;
struct ProxyRoute;
struct TargetAddress;
} // namespace platform
