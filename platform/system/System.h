#pragma once
// System services the updater needs: files and folders, the settings-file reader, the
// clock, the locale, the connection test and the system's error texts.

#include "platform/runtime/DateTime.h"
#include "platform/system/FileStream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A program started by StartProcess. Freeing it releases the handle, not the program.
class Process {
public:
    enum class WaitResult { Ended, Timeout, Failed };
    virtual ~Process() = default;
    // Waits at most `ms` for the program to end. Failed when it cannot be waited for.
    virtual WaitResult Wait(int ms) = 0;
    // The program's exit status once Wait has seen it end; nothing before, or when the
    // system cannot tell (a program ended by a signal gives 128 plus the signal's number).
    virtual std::optional<int> ExitCode() const = 0;
};

// An exclusive lock on a file, taken by System::TryLockFile. Freeing it releases the lock;
// so does the end of the process, however it ends (the system holds it, not the file).
class FileLock {
public:
    virtual ~FileLock() = default;
};

class System {
public:
    virtual ~System() = default;

    // The folder of the running executable, with a trailing path separator.
    virtual std::string ExeDir() = 0;
    // The user's documents folder, without a guarantee of a trailing separator;
    // nothing when the system has none.
    virtual std::optional<std::string> DocumentsDir() = 0;
    // The folder used for the update folder when there is no documents folder, with a
    // trailing separator: the root of the system drive ("/" on Linux). Nothing is created
    // there.
    virtual std::string FallbackFolder() = 0;
    // The path separator of this system.
    virtual char PathDelim() const = 0;
    // The locale's decimal separator, read once at process start ('.' when none).
    virtual char DecimalSeparator() = 0;
    // Whether the machine has a network connection; answers at once.
    virtual bool IsConnected() = 0;

    // The whole file, opened with other readers allowed and writers refused (where the
    // system has share modes). Throws EFOpenError
    // "Cannot open file "<path>". <system text>".
    virtual std::string ReadFile(const std::string& path) = 0;
    // At most `count` bytes of the file from `offset` on (fewer at its end), so that a big
    // file can be read in pieces. Throws EFOpenError as ReadFile does.
    virtual std::string ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count) = 0;
    // Creates or replaces the file; a link at `path` is replaced, never written through.
    // Throws EFCreateError "Cannot create file "<path>". <text>".
    virtual void WriteFile(const std::string& path, std::string_view bytes) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // Removes the file; true when it is gone afterwards (also when it was not there).
    virtual bool RemoveFile(const std::string& path) = 0;
    virtual bool DirectoryExists(const std::string& path) = 0;
    // Creates one folder level; false on failure.
    virtual bool CreateDir(const std::string& path) = 0;

    // Opens a file for writing, creating it when absent: Create empties it, Append keeps its
    // bytes and writes after them. The file is the program's own: it is never opened through
    // a link, and anything in its place that is not a regular file of this user with a single
    // name (a symbolic or hard link, a reparse point, a folder, a device) is removed and a
    // fresh, empty file made instead. Throws EFCreateError "Cannot create file "<path>". <text>".
    enum class OpenMode { Create, Append };
    virtual std::unique_ptr<TFileStream> OpenFileStream(const std::string& path, OpenMode mode) = 0;
    // The size of a plain file; nothing when there is none (a link is none).
    virtual std::optional<std::int64_t> FileSize(const std::string& path) = 0;
    // Renames a file, replacing `to` (a link at `to` is replaced, not followed); false on
    // failure (LastError says why).
    virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
    // Takes an exclusive lock on the file at `path` without waiting, creating the file when
    // absent (as OpenFileStream does, never through a link). Nothing when another process
    // holds it. Throws EFCreateError "Cannot create file "<path>". <text>" when the file
    // cannot be opened or locked for another reason.
    virtual std::unique_ptr<FileLock> TryLockFile(const std::string& path) = 0;
    // The bytes this user may still write in the folder's file system; nothing when the
    // system cannot tell.
    virtual std::optional<std::int64_t> FreeSpace(const std::string& folder) = 0;

    // The private-profile read: section and key match without regard to case; the default
    // when the file, section or key is absent; values cut to 2047 characters.
    virtual std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                         const std::string& def) = 0;

    // Local date and time, millisecond resolution.
    virtual TDateTime Now() = 0;
    // Minutes to add to local time to get UTC (the bias of the time zone).
    virtual int UtcBiasMinutes() = 0;
    virtual void Sleep(int ms) = 0;

    // The system's text for an error number, without trailing blanks, controls or periods.
    virtual std::string ErrorText(int code) = 0;
    virtual int LastError() = 0;

    // Starts the program at `path` with `args` (without the program itself) in the
    // current folder, making a downloaded file executable first where the system needs
    // that. Only a regular file is started, never one reached through a link. Nothing when
    // it could not be started; the reason is then LastError().
    virtual std::unique_ptr<Process> StartProcess(const std::string& path, const std::vector<std::string>& args) = 0;
    // Opens a web address or document with the user's preferred program, in `workDir`.
    // Does not wait; false when nothing could be started.
    virtual bool OpenDocument(const std::string& target, const std::string& workDir) = 0;
};

} // namespace platform
