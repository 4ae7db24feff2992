// httpget on Windows: every FILE is replaced by a rename; there are no links or devices
// to keep, and no permission bits.
#include "tools/httpget/Output.h"

#include "platform/runtime/Exception.h"
#include "platform/win32/SchannelTls.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/WinHttpProxyResolver.h"

#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <stdio.h>

namespace httpget {
namespace {

class Win32Backend : public Backend {
public:
    // Bodies go to standard output byte for byte: in the C library's default text mode
    // every LF of a body written there would become CR LF.
    Win32Backend() { _setmode(_fileno(stdout), _O_BINARY); }
    platform::System& System() override { return system_; }
    const platform::Tls& Tls() override { return tls_; }
    platform::ProxyResolver& Proxy() override { return proxy_; }

private:
    platform::WinHttpProxyResolver proxy_;
    platform::Win32System system_;
    platform::SchannelTls tls_;
};

} // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<Win32Backend>(); }

OutputKind KindOf(const std::string& file) { return {OutputKind::Plain, file}; }

void WriteThrough(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EFCreateError("Cannot create file \"" + path + "\".");
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush())
        throw EWriteError("Cannot write file \"" + path + "\".");
}

void KeepMode(const std::string&, const OutputKind&) {}

} // namespace httpget
