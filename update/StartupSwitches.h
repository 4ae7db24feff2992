#pragma once
// The command-line switches "/hidden", "/silent" and "/langid=". Only parameters 1 to 5 are looked
// at; a parameter that is not given reads as the empty text. Both the process entry and
// the update window's creation scan them with these same rules, so the two always agree.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr int kSwitchParamCount = 5;

// Trimmed of every byte 0..32 at both ends and lowered (A-Z only), equals "/hidden".
bool IsHiddenSwitch(std::string_view param);
// Trimmed of every byte 0..32 at both ends and lowered (A-Z only), equals "/silent".
bool IsSilentSwitch(std::string_view param);
// Lowered (A-Z only, not trimmed), contains "/langid=" anywhere.
bool HasLangIdSwitch(std::string_view param);

struct StartupSwitches {
    bool Hidden = false;
    // No window and no box at any moment; the outcome is the exit status.
    bool Silent = false;
    // The language number of the "/langid=" parameter at the highest position whose last
    // character is a digit; nothing when there is none.
    std::optional<int> LangId;
    // "'%s' is not a valid integer value" for each "/langid=" parameter whose last character
    // is not a digit. Such a parameter is ignored, so a hidden run still goes on.
    std::vector<std::string> LangIdErrors;
};

// params[0] is the program's own path and is never examined.
StartupSwitches ScanStartupSwitches(const std::vector<std::string>& params);
