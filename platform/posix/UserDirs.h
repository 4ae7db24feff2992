#pragma once
// The XDG user-directories file ("$XDG_CONFIG_HOME/user-dirs.dirs"), read as the desktop
// tools write it: lines NAME="$HOME/sub/folder" or NAME="/absolute/folder", "#" comments,
// backslash escaping the next character inside the quotes. A value that neither starts
// with "$HOME" (followed by "/" or the end) nor with "/" is invalid and skipped, as the
// desktop tools skip it. When a name is given on several lines the last valid one wins,
// as when the file is sourced by a shell.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The folder that the file gives for `name` (e.g. "XDG_DOCUMENTS_DIR"), with "$HOME"
// replaced by `home`; nothing when the file does not give it.
std::optional<std::string> ReadUserDir(std::string_view fileBytes, std::string_view name, const std::string& home);

} // namespace platform
