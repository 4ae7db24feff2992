// httpget on Linux: a FILE that is a file, or a link, is replaced by a rename, never written
// through (the link itself is replaced, as another name of a hard-linked file is); a device
// or a pipe, also one reached through a link such as /dev/stdout, is written in place; a
// replaced regular file keeps its permission bits.
#include "tools/httpget/Output.h"

#include "platform/posix/OpenSslTls.h"
#include "platform/posix/PosixProxyResolver.h"
#include "platform/posix/PosixSystem.h"
#include "platform/runtime/Exception.h"

#include <cerrno>
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
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0)
        return k;
    if (S_ISREG(st.st_mode)) {
        k.mode = static_cast<unsigned>(st.st_mode & 07777);
        return k;
    }
    // What a link or a special name leads to decides: only a device or a pipe is written in
    // place; a link to a file (or to nothing) is replaced like a file.
    if (::stat(file.c_str(), &st) == 0 &&
        (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        k.kind = OutputKind::Special;
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
