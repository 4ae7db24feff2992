#pragma once
// Forward declarations of the classes in platform/win32/:
// The Win32, BCrypt and Schannel backend.

namespace platform {
class BCryptCrypto;
class SchannelTls;
class Win32Application;
class Win32FileStream;
class Win32Sockets;
class Win32System;
class Win32UiBackend;
class WinHttpProxyResolver;
} // namespace platform
