#pragma once
// What httpget needs from the system it runs on: the system services and TLS of its
// backend, and how a FILE given with -o is written. One source per system
// (PosixOutput.cpp, Win32Output.cpp) implements it; the build picks the file.

#include "platform/proxy/ProxyResolver.h"
#include "platform/system/System.h"
#include "platform/tls/Tls.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace httpget {

// The backend's system services, TLS and proxy settings, alive for the whole run.
class Backend {
public:
    virtual ~Backend() = default;
    virtual platform::System& System() = 0;
    virtual const platform::Tls& Tls() = 0;
    virtual platform::ProxyResolver& Proxy() = 0;
};
std::unique_ptr<Backend> MakeBackend();

struct OutputKind {
    // Plain: absent, a file or a link, replaced by a rename (a link is replaced, not
    // followed). Special: a device or a pipe, written in place after the Get.
    enum Kind { Plain, Special } kind = Plain;
    std::string path;                  // the file to write
    std::optional<unsigned> mode = {}; // the permission bits of the file that is there
};

OutputKind KindOf(const std::string& file);
// Creates or truncates the file and writes the bytes (devices and shared files).
void WriteThrough(const std::string& path, std::string_view bytes);
// Gives the new file at `path` the permission bits of the one it replaces, where the
// system has them.
void KeepMode(const std::string& path, const OutputKind& kind);

} // namespace httpget
