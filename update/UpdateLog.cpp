#include "update/UpdateLog.h"

#include "platform/runtime/Exception.h"
#include "platform/system/System.h"
#include "update/SignedOffer.h"

#include <cstdio>
#include <memory>

std::string WithoutCredentials(std::string_view text)
{
    // In every "scheme://authority", the part of the authority up to its last "@" is
    // the user and password: it goes.
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t scheme = text.find("://", at);
        if (scheme == std::string_view::npos)
            break;
        const std::size_t start = scheme + 3;
        std::size_t end = start;
        while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#' &&
               static_cast<unsigned char>(text[end]) > 32)
            ++end;
        const std::size_t userEnd = text.substr(start, end - start).rfind('@');
        out += text.substr(at, start - at);
        out += userEnd == std::string_view::npos ? text.substr(start, end - start)
                                                 : text.substr(start + userEnd + 1, end - start - userEnd - 1);
        at = end;
    }
    out += text.substr(at);
    return out;
}

std::string LogNumber(double value, int decimals)
{
    char text[64];
    if (decimals < 0)
        std::snprintf(text, sizeof text, "%.15g", value);
    else
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    for (char& c : s)
        if (c == ',')
            c = '.'; // the C library follows the user's locale
    return s;
}

namespace {

// One line: every line break and other control character becomes a blank, and a text too
// long for a line is cut.
std::string OneLine(std::string_view text)
{
    std::string line(text.substr(0, kMaxUpdateLogLine));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    return line;
}

} // namespace

void TUpdateLog::Write(std::string_view text) noexcept
{
    if (path_.empty())
        return;
    try {
        const TDateTime utc = sys_.Now() + sys_.UtcBiasMinutes() / kMinutesPerDay;
        Append(FormatUtcTimestamp(utc) + " " + OneLine(WithoutCredentials(text)) + "\n");
    } catch (...) {
        // A log that cannot be written (a read-only folder, a full disk) costs its lines,
        // never the run.
    }
}

void TUpdateLog::Append(const std::string& line)
{
    const auto size = sys_.FileSize(path_);
    if (size && *size >= kMaxUpdateLogSize)
        sys_.RenameFile(path_, path_ + ".1");
    const std::unique_ptr<TFileStream> file = sys_.OpenFileStream(path_, platform::System::OpenMode::Append);
    file->Write(line);
    file->Flush(false);
}
