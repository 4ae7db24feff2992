#pragma once
// Forward declarations of the classes in platform/sockets/:
// The sockets interface.

namespace platform {
class SocketLibraryError;
class Sockets;
} // namespace platform
