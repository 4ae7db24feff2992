#include "platform/posix/PosixFileStream.h"

#include "platform/runtime/Exception.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace platform {

namespace {

// The strerror_r of the C library in either of its two shapes (GNU returns the text,
// XSI fills the buffer and returns a status).
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* PickErrorText(int status, const char* buf) { return status == 0 ? buf : ""; }

std::string ErrnoText(int err)
{
    char buf[256] = {};
    std::string text = PickErrorText(::strerror_r(err, buf, sizeof buf), buf);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace

PosixFileStream::PosixFileStream(int fd, std::string path, std::int64_t size)
    : TBufferedFileStream(std::move(path), size), fd_(fd), reserved_(size)
{
}

PosixFileStream::~PosixFileStream()
{
    WriteBufferQuietly();
    // Space reserved beyond the data goes back; cutting to the same size releases it.
    if (reserved_ > Written())
        (void)::ftruncate(fd_, Written());
    ::close(fd_);
}

void PosixFileStream::Fail(int err) { throw EWriteError("Cannot write file \"" + Path() + "\". " + ErrnoText(err)); }

void PosixFileStream::ReserveUpTo(std::int64_t end)
{
    if (!canReserve_ || end <= reserved_)
        return;
    // A step ahead, so that reserving costs one call per step; when the step does not fit
    // on the disk, exactly what is needed may still fit.
    const std::int64_t step = std::max(end, (end / ReserveStep + 1) * ReserveStep);
    for (std::int64_t target : {step, end}) {
        int err;
        do
            err = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, reserved_, target - reserved_) == 0 ? 0 : errno;
        while (err == EINTR);
        if (err == 0) {
            reserved_ = target;
            return;
        }
        if (err == EOPNOTSUPP || err == ENOSYS || err == EINVAL) {
            canReserve_ = false; // this file system writes without reserving
            return;
        }
        if (err != ENOSPC || target == end)
            Fail(err);
    }
}

void PosixFileStream::WriteOut(const char* data, std::size_t count)
{
    ReserveUpTo(Written() + static_cast<std::int64_t>(count));
    while (count > 0) {
        const ssize_t n = ::pwrite(fd_, data, count, Written());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        if (n == 0)
            Fail(ENOSPC);
        data += n;
        count -= static_cast<std::size_t>(n);
        Wrote(static_cast<std::size_t>(n));
    }
}

void PosixFileStream::CutFile(std::int64_t size)
{
    if (::ftruncate(fd_, size) != 0)
        Fail(errno);
    reserved_ = std::min(reserved_, size);
}

void PosixFileStream::SyncFile()
{
    // A file system without fsync (EINVAL) is no failure.
    if (::fsync(fd_) != 0 && errno != EINVAL)
        Fail(errno);
}

} // namespace platform
