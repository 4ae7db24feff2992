#include "update/StartupSwitches.h"

#include "platform/runtime/Convert.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Strings.h"

bool IsHiddenSwitch(std::string_view param) { return LowerCase(Trim(param)) == "/hidden"; }

bool IsSilentSwitch(std::string_view param) { return LowerCase(Trim(param)) == "/silent"; }

bool HasLangIdSwitch(std::string_view param) { return LowerCase(param).find("/langid=") != std::string::npos; }

StartupSwitches ScanStartupSwitches(const std::vector<std::string>& params)
{
    StartupSwitches s;
    for (int i = 1; i <= kSwitchParamCount; ++i) {
        const std::string param = i < static_cast<int>(params.size()) ? params[static_cast<size_t>(i)] : std::string();
        if (IsHiddenSwitch(param))
            s.Hidden = true;
        if (IsSilentSwitch(param))
            s.Silent = true;
        if (HasLangIdSwitch(param)) {
            // Only the last character counts: "/langid=12" gives 2, "/langid=" gives '='.
            try {
                s.LangId = StrToInt(std::string(1, param.back()));
            } catch (const EConvertError& e) {
                s.LangIdErrors.push_back(e.Message());
            }
        }
    }
    return s;
}
