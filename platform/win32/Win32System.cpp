#include "platform/win32/Win32System.h"
#include "platform/win32/Win32FileStream.h"

#include "platform/runtime/Exception.h"

#include "platform/win32/WindowsHeaders.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace platform {

namespace {

std::string FullPath(const std::string& path)
{
    char buf[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
    if (n == 0 || n >= sizeof buf)
        return path;
    return std::string(buf, n);
}

} // namespace

std::string SystemErrorText(unsigned long code)
{
    // A buffer of 256 characters, as the error texts are shown in boxes.
    char buf[256];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                               sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text.back());
        if (c > ' ' && c != '.')
            break;
        text.pop_back();
    }
    return text;
}

namespace {

std::string TextOf(DWORD code) { return SystemErrorText(code); }

constexpr DWORD kNotOwnAttributes = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;

// Whether an open file is one of the program's own: on disk, no reparse point (a symbolic
// link or a junction), not a folder, a single name (a hard link would carry the writes to
// another file). The path is looked at too: wine opens a Linux link's target and shows
// the link only on the path.
bool OwnRegularFile(HANDLE h, const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD onPath = ::GetFileAttributesA(path.c_str());
    return ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
           !(info.dwFileAttributes & kNotOwnAttributes) && info.nNumberOfLinks == 1 &&
           onPath != INVALID_FILE_ATTRIBUTES && !(onPath & kNotOwnAttributes);
}

// Removes whatever is at `path` without following it: a link goes, not what it names; a
// folder goes only when it is empty. 0 or the error.
DWORD RemoveInPlace(const std::string& path)
{
    const DWORD a = ::GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? 0 : err;
    }
    const BOOL ok = (a & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str());
    return ok ? 0 : ::GetLastError();
}

// A fresh, empty file at `path`, made under a new name and moved into place: the move
// replaces whatever is there (a link too, also one wine shows only as its target) instead of
// opening it. An empty folder or a reparse point there is removed first.
HANDLE CreateFreshFile(const std::string& path, DWORD access, DWORD share, DWORD& err)
{
    const DWORD a = ::GetFileAttributesA(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & kNotOwnAttributes) && (err = RemoveInPlace(path)) != 0)
        return INVALID_HANDLE_VALUE;
    static LONG counter = 0;
    const std::string temp = path + "." + std::to_string(::GetCurrentProcessId()) + "." +
                             std::to_string(::InterlockedIncrement(&counter)) + ".new";
    HANDLE h = ::CreateFileA(temp.c_str(), access, share | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err = ::GetLastError();
        return INVALID_HANDLE_VALUE;
    }
    if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        err = ::GetLastError();
        ::CloseHandle(h);
        ::DeleteFileA(temp.c_str());
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Opens `path` for writing as a file of the program's own, emptied when `truncate`, never
// through a link: what is in its place and is not a plain file with one name is removed
// and a fresh file made there. The handle, or INVALID_HANDLE_VALUE with `err` set.
HANDLE OpenOwnFile(const std::string& path, DWORD access, DWORD share, bool truncate, DWORD& err)
{
    if (truncate)
        return CreateFreshFile(path, access, share, err);
    // A few rounds, in case something puts another thing there between removal and creation.
    constexpr int kAttempts = 3;
    DWORD disposition = OPEN_ALWAYS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE && OwnRegularFile(h, path))
            return h;
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
        } else {
            err = ::GetLastError();
            // A folder cannot be opened for writing; it, or a link, is replaced. Any other
            // failure is reported.
            const DWORD a = ::GetFileAttributesA(path.c_str());
            if (err != ERROR_FILE_EXISTS && (a == INVALID_FILE_ATTRIBUTES || !(a & kNotOwnAttributes)))
                return INVALID_HANDLE_VALUE;
        }
        if ((err = RemoveInPlace(path)) != 0)
            return INVALID_HANDLE_VALUE;
        disposition = CREATE_NEW;
    }
    err = ERROR_FILE_EXISTS;
    return INVALID_HANDLE_VALUE;
}

class Win32FileLock : public FileLock {
public:
    explicit Win32FileLock(HANDLE h) : handle_(h) {}
    ~Win32FileLock() override { ::CloseHandle(handle_); }
    Win32FileLock(const Win32FileLock&) = delete;
    Win32FileLock& operator=(const Win32FileLock&) = delete;

private:
    HANDLE handle_;
};

class ShellProcess : public Process {
public:
    explicit ShellProcess(HANDLE h) : handle_(h) {}
    ~ShellProcess() override
    {
        if (handle_)
            ::CloseHandle(handle_);
    }

    WaitResult Wait(int ms) override
    {
        // A start that gave no handle (the shell handed the file to a running program)
        // has nothing to wait for: the caller ends its wait on Failed.
        if (!handle_)
            return WaitResult::Failed;
        switch (::WaitForSingleObject(handle_, static_cast<DWORD>(ms < 0 ? 0 : ms))) {
        case WAIT_OBJECT_0: {
            DWORD code = 0;
            if (::GetExitCodeProcess(handle_, &code))
                exitCode_ = static_cast<int>(code);
            return WaitResult::Ended;
        }
        case WAIT_TIMEOUT:
            return WaitResult::Timeout;
        default:
            return WaitResult::Failed;
        }
    }

    std::optional<int> ExitCode() const override { return exitCode_; }

private:
    HANDLE handle_;
    std::optional<int> exitCode_;
};

} // namespace

Win32System::Win32System()
{
    char buf[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) == 2)
        decimalSeparator_ = buf[0]; // one character and its terminator
}

std::string Win32System::ExeDir()
{
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return ".\\";
        if (n < buf.size()) {
            std::string path(buf.data(), n);
            const auto cut = path.find_last_of("\\/");
            return cut == std::string::npos ? ".\\" : path.substr(0, cut + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

std::optional<std::string> Win32System::DocumentsDir()
{
    char buf[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buf, CSIDL_PERSONAL, FALSE) || buf[0] == '\0')
        return std::nullopt;
    return std::string(buf);
}

bool Win32System::IsConnected()
{
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) != FALSE;
}

std::string Win32System::ReadFile(const std::string& path)
{
    // Other readers are let in, writers are not: the bytes read are the whole file as it
    // stands, never one another program is halfway through writing.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw EFOpenError("Cannot open file \"" + path + "\". " + TextOf(::GetLastError()));
    std::string out;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(h, &size) && size.QuadPart > 0)
        out.reserve(static_cast<std::size_t>(size.QuadPart));
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            const DWORD err = ::GetLastError();
            ::CloseHandle(h);
            throw EFOpenError("Cannot open file \"" + path + "\". " + TextOf(err));
        }
        if (n == 0)
            break;
        out.append(buf, n);
    }
    ::CloseHandle(h);
    return out;
}

void Win32System::WriteFile(const std::string& path, std::string_view bytes)
{
    const std::string temp = path + ".part";
    auto fail = [&](DWORD err) { throw EFCreateError("Cannot create file \"" + path + "\". " + TextOf(err)); };
    DWORD openError = 0;
    HANDLE h = OpenOwnFile(temp, GENERIC_WRITE, FILE_SHARE_READ, true, openError);
    if (h == INVALID_HANDLE_VALUE)
        fail(openError);
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(h, bytes.data(), chunk, &n, nullptr) || n == 0) {
            const DWORD err = ::GetLastError();
            ::CloseHandle(h);
            ::DeleteFileA(temp.c_str());
            fail(err ? err : ERROR_DISK_FULL);
        }
        bytes.remove_prefix(n);
    }
    if (!::FlushFileBuffers(h) || !::CloseHandle(h)) {
        const DWORD err = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        fail(err);
    }
    if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        fail(err);
    }
}

bool Win32System::FileExists(const std::string& path)
{
    const DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32System::DirectoryExists(const std::string& path)
{
    const DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32System::CreateDir(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool Win32System::RemoveFile(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::string Win32System::ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw EFOpenError("Cannot open file \"" + path + "\". " + TextOf(::GetLastError()));
    std::string out(count, '\0');
    std::size_t got = 0;
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    bool ok = ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != FALSE;
    while (ok && got < count) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - got, std::size_t{1} << 30));
        ok = ::ReadFile(h, out.data() + got, chunk, &n, nullptr) != FALSE;
        if (!ok || n == 0)
            break;
        got += n;
    }
    const DWORD err = ok ? 0 : ::GetLastError();
    ::CloseHandle(h);
    if (!ok)
        throw EFOpenError("Cannot open file \"" + path + "\". " + TextOf(err));
    out.resize(got);
    return out;
}

std::unique_ptr<TFileStream> Win32System::OpenFileStream(const std::string& path, OpenMode mode)
{
    DWORD openError = 0;
    HANDLE h = OpenOwnFile(path, GENERIC_WRITE, FILE_SHARE_READ, mode == OpenMode::Create, openError);
    if (h == INVALID_HANDLE_VALUE)
        throw EFCreateError("Cannot create file \"" + path + "\". " + TextOf(openError));
    LARGE_INTEGER size{};
    const LARGE_INTEGER zero{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size) ||
        !::SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(h);
        throw EFCreateError("Cannot create file \"" + path + "\". " + TextOf(err ? err : ERROR_INVALID_PARAMETER));
    }
    return std::make_unique<Win32FileStream>(h, path, static_cast<std::int64_t>(size.QuadPart));
}

std::optional<std::int64_t> Win32System::FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & kNotOwnAttributes))
        return std::nullopt;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32System::RenameFile(const std::string& from, const std::string& to)
{
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::unique_ptr<FileLock> Win32System::TryLockFile(const std::string& path)
{
    DWORD err = 0;
    // Shared, so that a second run reaches the lock itself and learns that it is taken.
    HANDLE h = OpenOwnFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false, err);
    if (h == INVALID_HANDLE_VALUE && err == ERROR_SHARING_VIOLATION)
        return nullptr;
    if (h == INVALID_HANDLE_VALUE)
        throw EFCreateError("Cannot create file \"" + path + "\". " + TextOf(err));
    OVERLAPPED at{};
    if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return std::make_unique<Win32FileLock>(h);
    err = ::GetLastError();
    ::CloseHandle(h);
    if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING)
        return nullptr;
    throw EFCreateError("Cannot create file \"" + path + "\". " + TextOf(err));
}

std::optional<std::int64_t> Win32System::FreeSpace(const std::string& folder)
{
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExA(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    const auto limit = static_cast<unsigned long long>(INT64_MAX);
    return static_cast<std::int64_t>(std::min<unsigned long long>(available.QuadPart, limit));
}

std::string Win32System::GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                          const std::string& def)
{
    char buf[2048];
    const DWORD n =
        ::GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, sizeof buf, FullPath(path).c_str());
    return std::string(buf, n);
}

TDateTime Win32System::Now()
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    TSystemTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return EncodeDateTime(t);
}

int Win32System::UtcBiasMinutes()
{
    TIME_ZONE_INFORMATION tz;
    switch (::GetTimeZoneInformation(&tz)) {
    case TIME_ZONE_ID_INVALID:
        throw Exception("Failed attempting to retrieve time zone information.");
    case TIME_ZONE_ID_DAYLIGHT:
        return static_cast<int>(tz.Bias + tz.DaylightBias);
    default:
        return static_cast<int>(tz.Bias + tz.StandardBias);
    }
}

void Win32System::Sleep(int ms)
{
    if (ms > 0)
        ::Sleep(static_cast<DWORD>(ms));
}

std::string Win32System::ErrorText(int code) { return TextOf(static_cast<DWORD>(code)); }

int Win32System::LastError() { return static_cast<int>(::GetLastError()); }

std::string JoinParameters(const std::vector<std::string>& args)
{
    std::string out;
    for (const auto& a : args) {
        if (!out.empty())
            out += ' ';
        if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
            out += a;
            continue;
        }
        // Quoted: backslashes before a quote (or the closing quote) are doubled.
        out += '"';
        std::size_t slashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
            out += c;
        }
        out.append(slashes * 2, '\\');
        out += '"';
    }
    return out;
}

std::unique_ptr<Process> Win32System::StartProcess(const std::string& path, const std::vector<std::string>& args)
{
    const std::string params = JoinParameters(args);
    SHELLEXECUTEINFOA info{};
    // The record's own size for this build (60 bytes in a 32-bit program).
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = static_cast<HWND>(Owner());
    info.lpVerb = "open";
    info.lpFile = path.c_str();
    info.lpParameters = params.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOW;
    if (!::ShellExecuteExA(&info))
        return nullptr; // GetLastError says why
    return std::make_unique<ShellProcess>(info.hProcess);
}

bool Win32System::OpenDocument(const std::string& target, const std::string& workDir)
{
    const HINSTANCE r =
        ::ShellExecuteA(static_cast<HWND>(Owner()), "open", target.c_str(), "", workDir.c_str(), SW_SHOW);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

} // namespace platform
