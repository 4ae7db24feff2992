#include "platform/system/ProfileParser.h"

#include "platform/runtime/Strings.h"

// Placeholder reading; the full rules replace it.
std::string ReadProfileString(std::string_view fileBytes, std::string_view section,
                              std::string_view key, std::string_view def)
{
    bool inSection = false;
    size_t pos = 0;
    while (pos <= fileBytes.size()) {
        size_t end = fileBytes.find('\n', pos);
        if (end == std::string_view::npos)
            end = fileBytes.size();
        std::string line = Trim(fileBytes.substr(pos, end - pos));
        pos = end + 1;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            inSection = SameText(Trim(std::string_view(line).substr(1, line.size() - 2)), section);
            continue;
        }
        size_t eq = line.find('=');
        if (inSection && eq != std::string::npos && SameText(Trim(line.substr(0, eq)), key))
            return Trim(line.substr(eq + 1)).substr(0, kMaxProfileValue);
    }
    return std::string(def);
}
