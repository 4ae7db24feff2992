#include "update/Settings.h"

#include "platform/system/System.h"
#include "update/SettingsFile.h"

InstalledSettings ReadInstalledSettings(platform::System& sys, const std::string& builtInUpdateServer,
                                        const std::string& builtInHomePage, const std::string& builtInPublicKey)
{
    TSettingsFile ini(sys, sys.ExeDir() + kInstalledSettingsFile);
    InstalledSettings s;
    s.LocalVersion = ini.ReadString(kInstalledSection, "Version", "1.0");
    s.LocalBuild = ini.ReadFloat(kInstalledSection, "buildId", 2012);
    s.AppName = ini.ReadString(kInstalledSection, "AppName", "");

    s.UpdateServer = ini.ReadString(kInstalledSection, "UpdateServer", "");
    if (s.UpdateServer.empty())
        s.UpdateServer = builtInUpdateServer;
    else if (s.UpdateServer.back() != '/')
        s.UpdateServer += '/';
    s.CAFile = ini.ReadString(kInstalledSection, "CAFile", "");
    if (!s.CAFile.empty() && s.CAFile.front() != '/' && s.CAFile.front() != sys.PathDelim() &&
        !(s.CAFile.size() > 1 && s.CAFile[1] == ':'))
        s.CAFile = sys.ExeDir() + s.CAFile;
    s.HomePage = ini.ReadString(kInstalledSection, "HomePage", "");
    if (s.HomePage.empty())
        s.HomePage = builtInHomePage;
    // As for the addresses, an empty value keeps the built-in keys: a blank line left in
    // "update.ini" must not switch verification off.
    s.PublicKey = ini.ReadString(kInstalledSection, "PublicKey", "");
    if (s.PublicKey.empty())
        s.PublicKey = builtInPublicKey;
    s.Proxy = ini.ReadString(kInstalledSection, "Proxy", "");
    return s;
}

std::string OfferedSettingsPath(const std::string& updateFolder) { return updateFolder + kOfferedSettingsFile; }

OfferedSettings ReadOfferedSettings(platform::System& sys, const std::string& updateFolder)
{
    TSettingsFile ini(sys, OfferedSettingsPath(updateFolder));
    OfferedSettings s;
    s.WebBuild = ini.ReadFloat(kOfferedSection, "buildId", 0);
    s.WebVersion = ini.ReadString(kOfferedSection, "version", "0.0");
    s.WhatNews = ini.ReadString(kOfferedSection, "whatnews", "");
    s.SetupPath = ini.ReadString(kOfferedSection, "SetupPath", "");
    return s;
}
