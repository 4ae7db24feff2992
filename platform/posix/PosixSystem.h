#pragma once
// The system services on Linux: files and folders through POSIX calls, the documents
// folder from the XDG user-directories file, the decimal separator of the environment's
// locale, the connection test over the network interfaces, the clock and errno texts.

#include "platform/system/System.h"

namespace platform {

class PosixSystem : public System {
public:
    // Reads the locale's decimal separator once, from LC_ALL / LC_NUMERIC / LANG.
    PosixSystem();

    // The folder of /proc/self/exe, with a trailing "/".
    std::string ExeDir() override;
    // XDG_DOCUMENTS_DIR when it is set and is a folder, else the home folder ($HOME, else
    // the password entry); nothing when neither is known. Looked up on every call.
    std::optional<std::string> DocumentsDir() override;
    std::string FallbackFolder() override { return "/"; }
    char PathDelim() const override { return '/'; }
    char DecimalSeparator() override { return decimalSeparator_; }
    // True when an interface other than loopback is up and running and has an IPv4 or
    // IPv6 address that is not link-local.
    bool IsConnected() override;

    std::string ReadFile(const std::string& path) override;
    std::string ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count) override;
    // Writes a temporary file beside the target and renames it over the target, so a
    // failed write (full disk, I/O error) leaves an earlier file as it was. An existing
    // target's permission bits carry over to the new file.
    void WriteFile(const std::string& path, std::string_view bytes) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    bool DirectoryExists(const std::string& path) override;
    bool CreateDir(const std::string& path) override;

    std::unique_ptr<TFileStream> OpenFileStream(const std::string& path, OpenMode mode) override;
    std::optional<std::int64_t> FileSize(const std::string& path) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    // flock on the file's descriptor, kept open (and not inherited by started programs)
    // until the lock is freed.
    std::unique_ptr<FileLock> TryLockFile(const std::string& path) override;
    // statvfs: the blocks available to unprivileged users.
    std::optional<std::int64_t> FreeSpace(const std::string& folder) override;

    // A file that cannot be read counts as absent: the default is returned.
    std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                 const std::string& def) override;

    TDateTime Now() override;
    int UtcBiasMinutes() override;
    void Sleep(int ms) override;

    std::string ErrorText(int code) override;
    int LastError() override;

    std::unique_ptr<Process> StartProcess(const std::string& path, const std::vector<std::string>& args) override;
    bool OpenDocument(const std::string& target, const std::string& workDir) override;

private:
    char decimalSeparator_ = '.';
};

} // namespace platform
