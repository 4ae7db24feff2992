#pragma once
// A settings file opened for reading by path. Opening reads nothing and does not need the
// file to exist; every lookup goes to the file through the system's settings-file reader.

#include "platform/system/forward.h"

#include <string>

class TSettingsFile {
public:
    // Borrows `sys`, which must outlive the reader.
    TSettingsFile(platform::System& sys, std::string path);

    const std::string& FileName() const { return path_; }

    // The value of the key, or `def` when the file, the section or the key is absent.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
    // The value as a number written with the system's decimal separator (see TryStrToFloat);
    // `def` when the value is absent, empty or not a number. Nothing is reported.
    double ReadFloat(const std::string& section, const std::string& key, double def);

private:
    platform::System& sys_;
    std::string path_;
};
