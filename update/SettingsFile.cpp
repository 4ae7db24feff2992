#include "update/SettingsFile.h"

#include "platform/runtime/Convert.h"
#include "platform/system/System.h"

TSettingsFile::TSettingsFile(platform::System& sys, std::string path) : sys_(sys), path_(std::move(path)) {}

std::string TSettingsFile::ReadString(const std::string& section, const std::string& key, const std::string& def)
{
    return sys_.GetProfileString(path_, section, key, def);
}

double TSettingsFile::ReadFloat(const std::string& section, const std::string& key, double def)
{
    const std::string text = ReadString(section, key, "");
    if (text.empty())
        return def;
    return TryStrToFloat(text, sys_.DecimalSeparator()).value_or(def);
}
