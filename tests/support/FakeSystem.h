#pragma once
// An in-memory system for tests: files and folders in maps, a settable clock, locale
// separator, connection state and documents folder.

#include "platform/runtime/Exception.h"
#include "platform/system/ProfileParser.h"
#include "platform/system/System.h"

#include <map>
#include <set>
#include <string>

class FakeSystem : public platform::System {
public:
    std::string exeDir = "/opt/app/";
    std::optional<std::string> documents = std::string("/home/user/Documents");
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

    std::string ExeDir() override { return exeDir; }
    std::optional<std::string> DocumentsDir() override { return documents; }
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
    void WriteFile(const std::string& path, std::string_view bytes) override
    {
        auto slash = path.rfind('/');
        if (unwritable.count(path) || (slash != std::string::npos && slash > 0 && !dirs.count(path.substr(0, slash))))
            throw EFCreateError("Cannot create file \"" + path + "\". No such file or directory");
        files[path] = std::string(bytes);
    }
    bool FileExists(const std::string& path) override { return files.count(path) > 0; }
    bool DirectoryExists(const std::string& path) override { return dirs.count(path) > 0; }
    bool CreateDir(const std::string& path) override
    {
        if (unwritable.count(path))
            return false;
        auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0 && !dirs.count(path.substr(0, slash)))
            return false;
        dirs.insert(path);
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
    int LastError() override { return 0; }
};
