#pragma once
// The system services on Windows, through the ANSI ("A") calls: files and folders, the
// private-profile reader, the Documents folder of the shell, the locale's decimal separator,
// the connection state, the local clock and time zone, the system's error texts, and the
// shell's start of a program and of a document.

#include "platform/system/System.h"

#include <functional>

namespace platform {

class Win32System : public System {
public:
    // Reads the user locale's decimal separator once.
    Win32System();

    // The window that owns the shell's windows (the installer start, the product page):
    // asked for at each start, since the update window is created after the system object.
    // Without one the shell's windows have no owner.
    void SetOwnerWindow(std::function<void*()> owner) { ownerWindow_ = std::move(owner); }

    // The folder of the running .exe, with a trailing "\".
    std::string ExeDir() override;
    // The shell's personal folder (CSIDL_PERSONAL); nothing when the shell has none.
    std::optional<std::string> DocumentsDir() override;
    std::string FallbackFolder() override { return "C:\\"; }
    char PathDelim() const override { return '\\'; }
    char DecimalSeparator() override { return decimalSeparator_; }
    // InternetGetConnectedState.
    bool IsConnected() override;

    std::string ReadFile(const std::string& path) override;
    // Writes a temporary file beside the target and moves it over the target, so a failed
    // write leaves an earlier file as it was.
    void WriteFile(const std::string& path, std::string_view bytes) override;
    bool FileExists(const std::string& path) override;
    bool DirectoryExists(const std::string& path) override;
    bool CreateDir(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    std::string ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count) override;
    std::unique_ptr<TFileStream> OpenFileStream(const std::string& path, OpenMode mode) override;
    std::optional<std::int64_t> FileSize(const std::string& path) override;
    // MoveFileExA, replacing `to`.
    bool RenameFile(const std::string& from, const std::string& to) override;
    // LockFileEx on the file's handle, kept open until the lock is freed.
    std::unique_ptr<FileLock> TryLockFile(const std::string& path) override;
    // GetDiskFreeSpaceExA: the bytes free to this user.
    std::optional<std::int64_t> FreeSpace(const std::string& folder) override;

    // GetPrivateProfileStringA. A relative path is made full first: given a bare name the
    // system reads the file from the Windows folder instead.
    std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                 const std::string& def) override;

    TDateTime Now() override;
    // GetTimeZoneInformation, with the daylight bias while daylight time is in force.
    // Throws Exception "Failed attempting to retrieve time zone information." when the
    // system cannot tell.
    int UtcBiasMinutes() override;
    void Sleep(int ms) override;

    // FormatMessageA into 256 characters, trailing controls, blanks and periods removed.
    std::string ErrorText(int code) override;
    int LastError() override;

    // ShellExecuteExA with "open", the parameters and no folder, keeping the process handle.
    std::unique_ptr<Process> StartProcess(const std::string& path, const std::vector<std::string>& args) override;
    // ShellExecuteA with "open"; true when the shell started something.
    bool OpenDocument(const std::string& target, const std::string& workDir) override;

private:
    void* Owner() const { return ownerWindow_ ? ownerWindow_() : nullptr; }

    char decimalSeparator_ = '.';
    std::function<void*()> ownerWindow_;
};

// The system's text for an error number (FormatMessageA into 256 characters), trailing
// controls, blanks and periods removed.
std::string SystemErrorText(unsigned long code);

// The parameter text of a program start: the arguments separated by blanks, those that
// are empty or contain blanks or quotes quoted as the C runtime splits them again.
std::string JoinParameters(const std::vector<std::string>& args);

} // namespace platform
