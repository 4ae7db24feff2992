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
    : fd_(fd), path_(std::move(path)), buffer_(std::make_unique<char[]>(BufferSize)), written_(size),
      reserved_(size)
{
}

PosixFileStream::~PosixFileStream()
{
    try {
        WriteBuffer();
    } catch (...) {
        // Freed after a failure: what could not be written is lost, the rest stays.
    }
    // Space reserved beyond the data goes back; cutting to the same size releases it.
    if (reserved_ > written_)
        (void)::ftruncate(fd_, written_);
    ::close(fd_);
}

void PosixFileStream::Fail(int err)
{
    throw EWriteError("Cannot write file \"" + path_ + "\". " + ErrnoText(err));
}

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

void PosixFileStream::WriteAt(const char* data, std::size_t count)
{
    ReserveUpTo(written_ + static_cast<std::int64_t>(count));
    while (count > 0) {
        const ssize_t n = ::pwrite(fd_, data, count, written_);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        if (n == 0)
            Fail(ENOSPC);
        data += n;
        count -= static_cast<std::size_t>(n);
        written_ += n;
    }
}

void PosixFileStream::WriteBuffer()
{
    if (fill_ == 0)
        return;
    const std::size_t n = fill_;
    fill_ = 0; // on failure the bytes not written are not part of the file
    WriteAt(buffer_.get(), n);
}

void PosixFileStream::Write(const void* data, std::size_t count)
{
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        if (fill_ == 0 && count >= capacity_) {
            WriteAt(p, count); // big writes skip the buffer
            return;
        }
        const std::size_t n = std::min(count, capacity_ - fill_);
        std::memcpy(buffer_.get() + fill_, p, n);
        fill_ += n;
        p += n;
        count -= n;
        if (fill_ == capacity_)
            WriteBuffer();
    }
}

char* PosixFileStream::BeginWrite(std::size_t count)
{
    if (count > capacity_ - fill_) {
        WriteBuffer();
        if (count > capacity_) {
            buffer_ = std::make_unique<char[]>(count);
            capacity_ = count;
        }
    }
    return buffer_.get() + fill_;
}

void PosixFileStream::EndWrite(std::size_t count)
{
    fill_ += std::min(count, capacity_ - fill_);
    if (fill_ == capacity_)
        WriteBuffer();
}

void PosixFileStream::Truncate(std::int64_t size)
{
    if (size < 0 || size >= Size())
        return;
    if (size >= written_) {
        fill_ = static_cast<std::size_t>(size - written_);
        return;
    }
    fill_ = 0;
    if (::ftruncate(fd_, size) != 0)
        Fail(errno);
    written_ = size;
    reserved_ = std::min(reserved_, size);
}

void PosixFileStream::Flush(bool durable)
{
    WriteBuffer();
    // A file system without fsync (EINVAL) is no failure.
    if (durable && ::fsync(fd_) != 0 && errno != EINVAL)
        Fail(errno);
}

} // namespace platform
