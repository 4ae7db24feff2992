// The resources of the built update.exe and httpget.exe, read back from the files beside
// this test as Windows reads them: the version resource (product, company and version set
// at build time) and the application manifest.

#include "platform/win32/WindowsHeaders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string ExeDir()
{
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

struct VersionInfo {
    std::vector<char> data;
    bool Read(const std::string& file)
    {
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &ignored);
        data.assign(size, '\0');
        return size > 0 && ::GetFileVersionInfoA(file.c_str(), 0, size, data.data());
    }
    std::string Text(const std::string& key)
    {
        void* value = nullptr;
        UINT length = 0;
        const std::string path = "\\StringFileInfo\\040904B0\\" + key;
        if (!::VerQueryValueA(data.data(), path.c_str(), &value, &length) || !value)
            return "(missing)";
        return static_cast<const char*>(value);
    }
    std::string FixedVersion()
    {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueA(data.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
            return "(missing)";
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        if (fixed->dwSignature != 0xFEEF04BD)
            return "(bad signature)";
        return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
               "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionLS));
    }
};

// The manifest resource (type 24, number 1), as the loader finds it.
std::string Manifest(const std::string& file)
{
    HMODULE module = ::LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    std::string text;
    if (HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)))
        if (HGLOBAL loaded = ::LoadResource(module, found))
            text.assign(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(module, found));
    ::FreeLibrary(module);
    return text;
}

} // namespace

TEST(Win32Resources, BothExecutablesCarryTheVersionAndTheManifest)
{
    struct Case {
        const char* file;
        const char* description;
    } cases[] = {
        {.file = "update.exe", .description = "Application updater"},
        {.file = "httpget.exe", .description = "HTTP client of the application updater"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = ExeDir() + c.file;
        VersionInfo info;
        ASSERT_TRUE(info.Read(path)) << "no version resource in " << path;
        EXPECT_EQ(info.Text("ProductName"), UPDATER_PRODUCT_NAME);
        EXPECT_EQ(info.Text("CompanyName"), UPDATER_COMPANY_NAME);
        EXPECT_EQ(info.Text("ProductVersion"), UPDATER_VERSION_DOTS);
        EXPECT_EQ(info.Text("FileVersion"), UPDATER_VERSION_DOTS);
        EXPECT_EQ(info.Text("FileDescription"), c.description);
        EXPECT_EQ(info.Text("OriginalFilename"), c.file);
        EXPECT_EQ(info.FixedVersion(), UPDATER_VERSION_DOTS);

        const std::string manifest = Manifest(path);
        ASSERT_FALSE(manifest.empty()) << "no manifest in " << path;
        for (const char* part : {
                 "level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                 ">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>",
                 "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
                 "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // Windows 8
                 "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // Windows 8.1
                 "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10 and 11
             })
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}
