#pragma once
// An in-memory system for tests: files and folders in maps, a settable clock, locale
// separator, connection state and documents folder. Folder paths are compared as POSIX
// does: repeated separators count as one and a trailing separator is ignored, so
// "/home/user/Documents//Update/" names the folder "/home/user/Documents/Update".

#include "platform/runtime/Exception.h"
#include "platform/system/ProfileParser.h"
#include "platform/system/System.h"

#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FakeSystem : public platform::System {
public:
    std::string exeDir = "/opt/app/";
    std::optional<std::string> documents = std::string("/home/user/Documents");
    std::string fallback = "/";
    char separator = '.';
    bool connected = true;
    std::map<std::string, std::string> files;
    std::set<std::string> dirs{"/", "/opt", "/opt/app", "/home", "/home/user", "/home/user/Documents"};
    std::set<std::string> unreadable; // files that exist but cannot be opened
    std::set<std::string> unwritable; // paths whose creation fails
    TDateTime now = 46000.5;
    int biasMinutes = 0;
    int sleptMs = 0;
    int connectionTests = 0;
    std::vector<std::string> createdDirs; // CreateDir calls that succeeded, as given

    std::string ExeDir() override { return exeDir; }
    std::optional<std::string> DocumentsDir() override { return documents; }
    std::string FallbackFolder() override { return fallback; }
    char PathDelim() const override { return '/'; }
    char DecimalSeparator() override { return separator; }
    bool IsConnected() override
    {
        ++connectionTests;
        return connected;
    }
    std::string ReadFile(const std::string& path) override
    {
        auto it = files.find(path);
        if (it == files.end() || unreadable.count(path))
            throw EFOpenError("Cannot open file \"" + path + "\". Permission denied");
        return it->second;
    }
    std::string ReadFilePart(const std::string& path, std::int64_t offset, std::size_t count) override
    {
        const std::string all = ReadFile(path);
        return offset >= static_cast<std::int64_t>(all.size()) ? std::string()
                                                               : all.substr(static_cast<std::size_t>(offset), count);
    }
    void WriteFile(const std::string& path, std::string_view bytes) override
    {
        if (unwritable.count(path) || !ParentExists(path))
            throw EFCreateError("Cannot create file \"" + path + "\". No such file or directory");
        files[path] = std::string(bytes);
    }
    bool FileExists(const std::string& path) override { return files.count(path) > 0; }

    // File streams write into `files` as they go. A write that would take the bytes of all
    // files beyond `diskCapacity` fails as a full disk does.
    std::optional<std::int64_t> freeSpace;    // FreeSpace's answer
    std::optional<std::int64_t> diskCapacity; // none: unlimited
    int streamsOpened = 0;
    std::unique_ptr<TFileStream> OpenFileStream(const std::string& path, OpenMode mode) override
    {
        if (unwritable.count(path) || !ParentExists(path))
            throw EFCreateError("Cannot create file \"" + path + "\". No such file or directory");
        ++streamsOpened;
        std::string& bytes = files[path];
        if (mode == OpenMode::Create)
            bytes.clear();
        struct S : TFileStream {
            FakeSystem& sys;
            std::string path;
            S(FakeSystem& s, std::string p) : sys(s), path(std::move(p)) {}
            std::string& Bytes() { return sys.files[path]; }
            void Write(const void* data, std::size_t count) override
            {
                if (sys.diskCapacity && sys.UsedBytes() + static_cast<std::int64_t>(count) > *sys.diskCapacity)
                    throw EWriteError("Cannot write file \"" + path + "\". No space left on device");
                Bytes().append(static_cast<const char*>(data), count);
            }
            std::int64_t Size() const override { return static_cast<std::int64_t>(sys.files[path].size()); }
            std::int64_t Position() const override { return Size(); }
            void Truncate(std::int64_t size) override
            {
                if (size >= 0 && size < Size())
                    Bytes().resize(static_cast<std::size_t>(size));
            }
            void Flush(bool durable) override
            {
                if (durable)
                    ++sys.flushes;
            }
        };
        return std::make_unique<S>(*this, path);
    }
    int flushes = 0;
    std::int64_t UsedBytes() const
    {
        std::int64_t n = 0;
        for (const auto& [name, bytes] : files)
            n += static_cast<std::int64_t>(bytes.size());
        return n;
    }
    std::optional<std::int64_t> FileSize(const std::string& path) override
    {
        auto it = files.find(path);
        return it == files.end() ? std::nullopt : std::optional<std::int64_t>(it->second.size());
    }
    bool RenameFile(const std::string& from, const std::string& to) override
    {
        auto it = files.find(from);
        if (it == files.end() || unwritable.count(to))
            return false;
        std::string bytes = std::move(it->second);
        files.erase(it);
        files[to] = std::move(bytes);
        return true;
    }
    bool RemoveFile(const std::string& path) override
    {
        files.erase(path);
        return true;
    }
    std::optional<std::int64_t> FreeSpace(const std::string&) override { return freeSpace; }
    // Locks held, by path; another process holds those put here by a test.
    std::set<std::string> locked;
    std::unique_ptr<platform::FileLock> TryLockFile(const std::string& path) override
    {
        if (unwritable.count(path) || !ParentExists(path))
            throw EFCreateError("Cannot create file \"" + path + "\". No such file or directory");
        if (!locked.insert(path).second)
            return nullptr;
        struct L : platform::FileLock {
            FakeSystem& sys;
            std::string path;
            L(FakeSystem& s, std::string p) : sys(s), path(std::move(p)) {}
            ~L() override { sys.locked.erase(path); }
        };
        return std::make_unique<L>(*this, path);
    }
    bool DirectoryExists(const std::string& path) override { return dirs.count(Normal(path)) > 0; }
    bool CreateDir(const std::string& path) override
    {
        const std::string dir = Normal(path);
        if (unwritable.count(path) || unwritable.count(dir) || dirs.count(dir) || files.count(dir) ||
            !ParentExists(dir))
            return false;
        dirs.insert(dir);
        createdDirs.push_back(path);
        return true;
    }
    std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                                 const std::string& def) override
    {
        auto it = files.find(path);
        return it == files.end() ? def : ReadProfileString(it->second, section, key, def);
    }
    TDateTime Now() override { return now; }
    int UtcBiasMinutes() override { return biasMinutes; }
    void Sleep(int ms) override { sleptMs += ms; }
    std::string ErrorText(int code) override { return "error " + std::to_string(code); }
    int LastError() override { return lastError; }

    // Programs: each start is recorded; `startError` non-zero makes starts fail with it;
    // a started program answers Timeout to `runningWaits` waits, then `endResult`.
    struct Started {
        std::string path;
        std::vector<std::string> args;
    };
    std::vector<Started> started;
    int startError = 0;
    int runningWaits = 0;
    platform::Process::WaitResult endResult = platform::Process::WaitResult::Ended;
    int waits = 0;
    std::function<void()> onWait;                            // runs at each wait, e.g. to click something meanwhile
    std::vector<std::pair<std::string, std::string>> opened; // target, working folder
    int lastError = 0;
    int exitCode = 0; // what an ended program exits with

    std::unique_ptr<platform::Process> StartProcess(const std::string& path,
                                                    const std::vector<std::string>& args) override
    {
        started.push_back({path, args});
        if (startError != 0 || !files.count(path)) {
            lastError = startError != 0 ? startError : 2;
            return nullptr;
        }
        struct P : platform::Process {
            FakeSystem& sys;
            explicit P(FakeSystem& s) : sys(s) {}
            WaitResult Wait(int ms) override
            {
                ++sys.waits;
                sys.sleptMs += ms;
                if (sys.onWait)
                    sys.onWait();
                if (sys.runningWaits > 0) {
                    --sys.runningWaits;
                    return WaitResult::Timeout;
                }
                return sys.endResult;
            }
            std::optional<int> ExitCode() const override
            {
                return sys.endResult == WaitResult::Ended ? std::optional<int>(sys.exitCode) : std::nullopt;
            }
        };
        return std::make_unique<P>(*this);
    }
    bool OpenDocument(const std::string& target, const std::string& workDir) override
    {
        opened.emplace_back(target, workDir);
        return true;
    }

    // The folder path with runs of '/' made one and a trailing '/' removed (except "/").
    static std::string Normal(const std::string& path)
    {
        std::string r;
        for (char c : path)
            if (c != '/' || r.empty() || r.back() != '/')
                r += c;
        if (r.size() > 1 && r.back() == '/')
            r.pop_back();
        return r;
    }

private:
    bool ParentExists(const std::string& path) const
    {
        const std::string p = Normal(path);
        auto slash = p.rfind('/');
        return slash == std::string::npos || dirs.count(slash == 0 ? "/" : p.substr(0, slash)) > 0;
    }
};
