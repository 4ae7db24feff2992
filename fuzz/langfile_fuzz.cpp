// libFuzzer target: language-file bytes through the section store and the value readers.
// Built with -DUPDATER_FUZZ=ON and Clang.

#include "localization/CommaList.h"
#include "localization/LangFile.h"
#include "localization/TextDecoding.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TLangFile file = ParseLangFile(bytes);
    file.ReadBool("-Header-", "IsUTF8", false);
    for (const char* section : {"-Strings-", "TUpdateFrm", "UpdateFrm"}) {
        for (const auto& line : file.SectionLines(section)) {
            // Every stored key is found again, and its value holds no line end or NUL.
            if (line.IsKey && !file.ValueExists(section, line.Key))
                __builtin_trap();
            if (line.Value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
                __builtin_trap();
            for (const auto& item : SplitCommaList(line.Value))
                if (item.size() > line.Value.size())
                    __builtin_trap();
            DecodeUtf8Text(line.Value);
        }
    }
    return 0;
}
