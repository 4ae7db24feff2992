// httpget on Linux: a FILE that is a link is followed; a device, a pipe or a file with
// other names is written in place; a replaced file keeps its permission bits.
#include "tools/httpget/Output.h"

#include "platform/posix/OpenSslTls.h"
#include "platform/posix/PosixProxyResolver.h"
#include "platform/posix/PosixSystem.h"
#include "platform/runtime/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace httpget {
namespace {

class PosixBackend : public Backend {
public:
    platform::System& System() override { return system_; }
    const platform::Tls& Tls() override { return tls_; }
    platform::ProxyResolver& Proxy() override { return proxy_; }

private:
    platform::PosixProxyResolver proxy_;
    platform::PosixSystem system_;
    platform::OpenSslTls tls_;
};

} // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<PosixBackend>(); }

OutputKind KindOf(const std::string& file)
{
    OutputKind k{OutputKind::Plain, file};
    char resolved[PATH_MAX];
    struct stat link;
    if (::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(file.c_str(), resolved))
        k.path = resolved;
    struct stat st;
    if (::stat(k.path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1)
            k.kind = OutputKind::Special;
        k.mode = static_cast<unsigned>(st.st_mode & 07777);
    }
    return k;
}

// Creates or truncates the file and writes the bytes (devices and shared files).
void WriteThrough(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
}

void KeepMode(const std::string& path, const OutputKind& kind)
{
    if (kind.mode)
        ::chmod(path.c_str(), static_cast<mode_t>(*kind.mode));
}

} // namespace httpget
