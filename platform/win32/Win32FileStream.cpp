#include "platform/win32/Win32FileStream.h"

#include "platform/runtime/Exception.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/WindowsHeaders.h"

#include <algorithm>

namespace platform {

Win32FileStream::Win32FileStream(void* handle, std::string path, std::int64_t size)
    : TBufferedFileStream(std::move(path), size), handle_(handle)
{
}

Win32FileStream::~Win32FileStream()
{
    WriteBufferQuietly();
    ::CloseHandle(static_cast<HANDLE>(handle_));
}

void Win32FileStream::Fail(unsigned long err)
{
    throw EWriteError("Cannot write file \"" + Path() + "\". " + SystemErrorText(err));
}

void Win32FileStream::WriteOut(const char* data, std::size_t count)
{
    // The handle stands at the end of the file: every write appends.
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
        DWORD n = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), data, chunk, &n, nullptr))
            Fail(::GetLastError());
        if (n == 0)
            Fail(ERROR_DISK_FULL);
        data += n;
        count -= n;
        Wrote(n);
    }
}

void Win32FileStream::CutFile(std::int64_t size)
{
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!::SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(static_cast<HANDLE>(handle_)))
        Fail(::GetLastError());
}

void Win32FileStream::SyncFile()
{
    if (!::FlushFileBuffers(static_cast<HANDLE>(handle_)))
        Fail(::GetLastError());
}

} // namespace platform
