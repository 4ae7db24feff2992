#pragma once
// The update folder: the per-application working folder under the user's documents folder
// that receives "webinfo.ini" and the downloaded installer.

#include "platform/system/forward.h"

#include <string>

// The documents folder, a separator if it lacks one, then "$appname/Update/" (with the
// system's separator), with every "$appname" replaced once by `appName` (the inserted text
// is not scanned again; an empty name leaves two separators in a row, which is kept). The
// folder is then created with all missing levels; whether that worked is not reported
// here but shows when a file cannot be saved there. Without a documents folder the result
// is the system's fallback folder and nothing is created.
std::string FormUpdateFolder(platform::System& sys, const std::string& appName);

// Creates `dir` with every missing level. The text minus one trailing separator is the
// folder; when it is shorter than three characters, exists already, or is its own parent,
// nothing is done; otherwise its parent is created first in the same way, then the folder.
// The first failure stops the creation; the result says whether the folder was made.
bool ForceDirectories(platform::System& sys, std::string dir);
