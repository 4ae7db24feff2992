#include "update/UpdateFolder.h"

#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

std::string FormUpdateFolder(platform::System& sys, const std::string& appName)
{
    const auto documents = sys.DocumentsDir();
    // An empty documents path would put the folder at the root; treat it as no folder.
    if (!documents || documents->empty())
        return sys.FallbackFolder();
    const char sep = sys.PathDelim();
    std::string folder = *documents;
    if (folder.back() != sep)
        folder += sep;
    folder += std::string("$appname") + sep + "Update" + sep;
    folder = ReplaceAll(folder, "$appname", appName);
    ForceDirectories(sys, folder);
    return folder;
}

bool ForceDirectories(platform::System& sys, std::string dir)
{
    const char sep = sys.PathDelim();
    if (!dir.empty() && dir.back() == sep)
        dir.pop_back();
    if (dir.size() < 3 || sys.DirectoryExists(dir))
        return true;
    const size_t slash = dir.rfind(sep);
    const std::string parent = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    // "a//" loses one separator above and is then its own parent: stop rather than loop.
    if (parent == dir)
        return true;
    return ForceDirectories(sys, parent) && sys.CreateDir(dir);
}
