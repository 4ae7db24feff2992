#include "platform/posix/PosixSystem.h"

#include "platform/posix/InterfaceFilter.h"
#include "platform/posix/PosixFileStream.h"
#include "platform/posix/UserDirs.h"
#include "platform/runtime/Exception.h"
#include "platform/system/ProfileParser.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ifaddrs.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace platform {

namespace {

// Reads the whole file; returns 0 or the errno of the failure.
int ReadWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            out.clear();
            return err;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

// Writes every byte, retrying after interruptions and short writes; 0 or the errno.
int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// Whether an open file is one this user may write as its own: a regular file of this user
// with no other name (a hard link would carry the writes to another file).
bool OwnRegularFile(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

// Removes whatever is at `path` without following it: a link goes, not what it points to; a
// folder goes only when it is empty. 0 or the errno.
int RemoveInPlace(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : errno;
    const int r = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    return r == 0 || errno == ENOENT ? 0 : errno;
}

// Opens `path` for writing as a file of the updater's own, emptied when `truncate`: never
// through a link. What is in its place and is not a regular file of this user with one name
// (a symbolic or hard link, a folder, a pipe, a device, another user's file) is removed and
// a fresh file made there. The descriptor, or -errno.
int OpenOwnFile(const std::string& path, bool truncate)
{
    // A few rounds, in case something puts another thing there between removal and creation.
    constexpr int kAttempts = 3;
    int exclusive = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Non-blocking, so that a pipe without a reader fails instead of waiting for one.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | exclusive, 0666);
        if (fd >= 0 && OwnRegularFile(fd)) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            if (truncate && ::ftruncate(fd, 0) != 0) {
                const int err = errno;
                ::close(fd);
                return -err;
            }
            return fd;
        }
        if (fd >= 0)
            ::close(fd);
        else if (errno != ELOOP && errno != EISDIR && errno != ENXIO && errno != EEXIST && errno != EWOULDBLOCK)
            return -errno;
        if (const int err = RemoveInPlace(path))
            return -err;
        exclusive = O_EXCL;
    }
    return -EEXIST;
}

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// The strerror_r of the C library in either of its two shapes (GNU returns the text,
// XSI fills the buffer and returns a status).
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* PickErrorText(int status, const char* buf) { return status == 0 ? buf : ""; }

} // namespace

PosixSystem::PosixSystem()
{
    // The environment's numeric locale, without touching the process-wide locale.
    if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
        const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
        // A separator longer than one byte cannot be used by the number texts; keep '.'.
        if (radix && radix[0] != '\0' && radix[1] == '\0')
            decimalSeparator_ = radix[0];
        ::freelocale(loc);
    }
    ::tzset();
}

std::string PosixSystem::ExeDir()
{
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return "./";
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            size_t slash = path.rfind('/');
            return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

std::optional<std::string> PosixSystem::DocumentsDir()
{
    const std::string home = HomeDir();
    std::string config;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && c[0] == '/')
        config = c;
    else if (!home.empty())
        config = home + "/.config";
    if (!config.empty()) {
        std::string bytes;
        if (ReadWholeFile(config + "/user-dirs.dirs", bytes) == 0) {
            auto docs = ReadUserDir(bytes, "XDG_DOCUMENTS_DIR", home);
            if (docs && DirectoryExists(*docs))
                return docs;
        }
    }
    if (!home.empty())
        return home;
    return std::nullopt;
}

bool PosixSystem::IsConnected()
{
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool connected = false;
    for (struct ifaddrs* i = list; i && !connected; i = i->ifa_next)
        connected = IsConnectingInterface(i->ifa_flags, i->ifa_addr);
    ::freeifaddrs(list);
    return connected;
}

std::string PosixSystem::ReadFile(const std::string& path)
{
    std::string bytes;
    if (int err = ReadWholeFile(path, bytes))
        throw EFOpenError("Cannot open file \"" + path + "\". " + ErrorText(err));
    return bytes;
}

std::string PosixSystem::ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw EFOpenError("Cannot open file \"" + path + "\". " + ErrorText(errno));
    std::string out(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, out.data() + got, count - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            throw EFOpenError("Cannot open file \"" + path + "\". " + ErrorText(err));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

void PosixSystem::WriteFile(const std::string& path, std::string_view bytes)
{
    auto fail = [&](int err) { throw EFCreateError("Cannot create file \"" + path + "\". " + ErrorText(err)); };
    if (path.empty())
        fail(ENOENT);

    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

    // A hidden name beside the target, unique within this process and created exclusively,
    // so that concurrent writers never share a temporary file.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = dir + "." + base.substr(0, 64) + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100))
            fail(errno);
    }

    // The rename below replaces a link at `path` itself, never what it points to.
    struct stat old;
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    int err = WriteAll(fd, bytes);
    // The data must be on disk before the rename makes it the file; a file system
    // without fsync (EINVAL) is no failure.
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL)
        err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR)
        err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        fail(err);
    }
}

bool PosixSystem::FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixSystem::RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool PosixSystem::DirectoryExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixSystem::CreateDir(const std::string& path) { return !path.empty() && ::mkdir(path.c_str(), 0777) == 0; }

std::unique_ptr<TFileStream> PosixSystem::OpenFileStream(const std::string& path, OpenMode mode)
{
    const int fd = path.empty() ? -ENOENT : OpenOwnFile(path, mode == OpenMode::Create);
    if (fd < 0)
        throw EFCreateError("Cannot create file \"" + path + "\". " + ErrorText(-fd));
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw EFCreateError("Cannot create file \"" + path + "\". " + ErrorText(err));
    }
    return std::make_unique<PosixFileStream>(fd, path, static_cast<std::int64_t>(st.st_size));
}

std::optional<std::int64_t> PosixSystem::FileSize(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

bool PosixSystem::RenameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

class PosixFileLock : public FileLock {
public:
    explicit PosixFileLock(int fd) : fd_(fd) {}
    ~PosixFileLock() override { ::close(fd_); }
    PosixFileLock(const PosixFileLock&) = delete;
    PosixFileLock& operator=(const PosixFileLock&) = delete;

private:
    int fd_;
};

} // namespace

std::unique_ptr<FileLock> PosixSystem::TryLockFile(const std::string& path)
{
    const int fd = path.empty() ? -ENOENT : OpenOwnFile(path, false);
    if (fd < 0)
        throw EFCreateError("Cannot create file \"" + path + "\". " + ErrorText(-fd));
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0)
        return std::make_unique<PosixFileLock>(fd);
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
        return nullptr;
    throw EFCreateError("Cannot create file \"" + path + "\". " + ErrorText(err));
}

std::optional<std::int64_t> PosixSystem::FreeSpace(const std::string& folder)
{
    struct statvfs vfs;
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &vfs) != 0)
        return std::nullopt;
    const auto bytes = static_cast<unsigned __int128>(vfs.f_bavail) * vfs.f_frsize;
    const auto limit = static_cast<unsigned __int128>(INT64_MAX);
    return static_cast<std::int64_t>(bytes > limit ? limit : bytes);
}

std::string PosixSystem::GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                          const std::string& def)
{
    std::string bytes;
    if (ReadWholeFile(path, bytes) != 0)
        return def;
    return ReadProfileString(bytes, section, key, def);
}

TDateTime PosixSystem::Now()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::localtime_r(&ts.tv_sec, &t);
    TSystemTime st;
    st.year = t.tm_year + 1900;
    st.month = t.tm_mon + 1;
    st.day = t.tm_mday;
    st.hour = t.tm_hour;
    st.minute = t.tm_min;
    st.second = t.tm_sec > 59 ? 59 : t.tm_sec; // a leap second reads as the second before it
    st.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return EncodeDateTime(st);
}

int PosixSystem::UtcBiasMinutes()
{
    // The zone is looked up again on every call, as it may change while the process runs.
    ::tzset();
    time_t now = ::time(nullptr);
    struct tm t;
    ::localtime_r(&now, &t);
    return static_cast<int>(-t.tm_gmtoff / 60);
}

void PosixSystem::Sleep(int ms)
{
    if (ms <= 0)
        return;
    struct timespec left {
        ms / 1000, static_cast<long>(ms % 1000) * 1000000L
    };
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::string PosixSystem::ErrorText(int code)
{
    char buf[256] = {};
    std::string text = PickErrorText(::strerror_r(code, buf, sizeof buf), buf);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

int PosixSystem::LastError() { return errno; }

} // namespace platform
