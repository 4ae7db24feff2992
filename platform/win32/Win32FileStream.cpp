#include "platform/win32/Win32FileStream.h"

#include "platform/runtime/Exception.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/WindowsHeaders.h"

#include <algorithm>
#include <cstring>

namespace platform {

Win32FileStream::Win32FileStream(void* handle, std::string path, std::int64_t size)
    : handle_(handle), path_(std::move(path)), buffer_(std::make_unique<char[]>(BufferSize)), written_(size)
{
}

Win32FileStream::~Win32FileStream()
{
    try {
        WriteBuffer();
    } catch (...) {
        // Freed after a failure: what could not be written is lost, the rest stays.
    }
    ::CloseHandle(static_cast<HANDLE>(handle_));
}

void Win32FileStream::Fail(unsigned long err)
{
    throw EWriteError("Cannot write file \"" + path_ + "\". " + SystemErrorText(err));
}

void Win32FileStream::WriteOut(const char* data, std::size_t count)
{
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
        DWORD n = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), data, chunk, &n, nullptr))
            Fail(::GetLastError());
        if (n == 0)
            Fail(ERROR_DISK_FULL);
        data += n;
        count -= n;
        written_ += n;
    }
}

void Win32FileStream::WriteBuffer()
{
    if (fill_ == 0)
        return;
    const std::size_t n = fill_;
    fill_ = 0; // on failure the bytes not written are not part of the file
    WriteOut(buffer_.get(), n);
}

void Win32FileStream::Write(const void* data, std::size_t count)
{
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        if (fill_ == 0 && count >= capacity_) {
            WriteOut(p, count); // big writes skip the buffer
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

char* Win32FileStream::BeginWrite(std::size_t count)
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

void Win32FileStream::EndWrite(std::size_t count)
{
    fill_ += std::min(count, capacity_ - fill_);
    if (fill_ == capacity_)
        WriteBuffer();
}

void Win32FileStream::Truncate(std::int64_t size)
{
    if (size < 0 || size >= Size())
        return;
    if (size >= written_) {
        fill_ = static_cast<std::size_t>(size - written_);
        return;
    }
    fill_ = 0;
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!::SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(static_cast<HANDLE>(handle_)))
        Fail(::GetLastError());
    written_ = size;
}

void Win32FileStream::Flush(bool durable)
{
    WriteBuffer();
    if (durable && !::FlushFileBuffers(static_cast<HANDLE>(handle_)))
        Fail(::GetLastError());
}

} // namespace platform
