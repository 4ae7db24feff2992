#pragma once
// What is installed ("update.ini" beside the executable, section "Current") and what the
// update server offers ("webinfo.ini" in the update folder, section "web"). Both files are
// only read; build numbers are numbers, compared as numbers.

#include "platform/system/forward.h"

#include <string>

inline constexpr const char* kInstalledSettingsFile = "update.ini";
inline constexpr const char* kInstalledSection = "Current";
inline constexpr const char* kOfferedSettingsFile = "webinfo.ini";
inline constexpr const char* kOfferedSection = "web";

struct InstalledSettings {
    std::string LocalVersion{};
    double LocalBuild = 0;
    std::string AppName{};
    // The update server's base address (ends in "/") and the product page: the built-in
    // texts unless "update.ini" gives non-empty "UpdateServer" / "HomePage".
    std::string UpdateServer{};
    std::string HomePage{};
    // "CAFile": a PEM file of certificates the client trusts besides the system's, for an
    // update server with a private CA; a relative path is taken from the executable's
    // folder. Empty when not given.
    std::string CAFile{};
    // The publisher's public keys ("PublicKey": base64 DER keys separated by commas), else
    // the built-in text. Empty: offers are not verified and the network is trusted.
    std::string PublicKey{};
    // "Proxy": "http://[user:password@]host:port" or "direct"; overrides the system's proxy
    // settings. Empty: the system decides.
    std::string Proxy{};
};

struct OfferedSettings {
    double WebBuild = 0;
    std::string WebVersion{};
    std::string WhatNews{};
    std::string SetupPath{};
};

// Reads "Version" ("1.0"), "buildId" (2012) and "AppName" ("") in that order, then the
// address overrides. An "UpdateServer" override without a final "/" gets one, because the
// check address is appended to it.
InstalledSettings ReadInstalledSettings(platform::System& sys, const std::string& builtInUpdateServer,
                                        const std::string& builtInHomePage, const std::string& builtInPublicKey = {});

// The path of "webinfo.ini" in the update folder (which ends in a separator).
std::string OfferedSettingsPath(const std::string& updateFolder);

// Reads "buildId" (0), "version" ("0.0"), "whatnews" ("") and "SetupPath" ("") in that order.
OfferedSettings ReadOfferedSettings(platform::System& sys, const std::string& updateFolder);
