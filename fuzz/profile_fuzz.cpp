// Settings-file bytes ("update.ini", the server's "webinfo.ini") through the profile reader
// and the number conversions the updater applies to its values, and the same bytes read as
// the desktop's user-directories file.
//
// Input: a section name and a key name (libFuzzer's length-prefixed strings), then the file.

#include "FuzzSupport.h"

#include "platform/posix/UserDirs.h"
#include "platform/runtime/Convert.h"
#include "platform/runtime/Exception.h"
#include "platform/system/ProfileParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr std::string_view kDefault = "\x01-default-";

void CheckNumbers(const std::string& text)
{
    const auto v64 = TryStrToInt64(text);
    const auto v32 = TryStrToInt(text);
    if (v64 && *v64 >= std::numeric_limits<int>::min() && *v64 <= std::numeric_limits<int>::max())
        FUZZ_CHECK(v32 && *v32 == *v64);
    else
        FUZZ_CHECK(!v32);
    if (v64)
        FUZZ_CHECK(TryStrToInt64(std::to_string(*v64)) == v64);
    try {
        FUZZ_CHECK(StrToInt(text) == v32.value());
    } catch (const EConvertError&) {
        FUZZ_CHECK(!v32);
    }

    for (char separator : {'.', ','}) {
        if (const auto f = TryStrToFloat(text, separator)) {
            FUZZ_CHECK(!std::isnan(*f));
            const std::string shown = FormatFixed2(*f, separator);
            FUZZ_CHECK(!shown.empty());
            if (std::isfinite(*f) && std::fabs(*f) < 1e15) {
                // What is shown reads back as the same number to within its two decimals.
                const auto back = TryStrToFloat(shown, separator);
                FUZZ_CHECK(back && std::fabs(*back - *f) <= 0.005 + std::fabs(*f) * 1e-12);
            }
        }
    }
}

void CheckValue(const std::string& value, std::string_view file)
{
    if (value == kDefault)
        return;
    FUZZ_CHECK(value.size() <= kMaxProfileValue);
    FUZZ_CHECK(value.find('\0') == std::string::npos);
    // The cut to the longest value never splits a character of a well-formed file.
    if (fuzz::IsValidUtf8(file))
        FUZZ_CHECK(fuzz::IsValidUtf8(value));
    CheckNumbers(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string file = input.ConsumeRemainingBytesAsString();

    CheckValue(ReadProfileString(file, section, key, kDefault), file);
    // The lookups the updater makes in "update.ini" and "webinfo.ini".
    for (const char* k : {"Version", "buildId", "AppName", "UpdateServer", "HomePage"})
        CheckValue(ReadProfileString(file, "Current", k, kDefault), file);
    for (const char* k : {"buildId", "version", "whatnews", "SetupPath"})
        CheckValue(ReadProfileString(file, "web", k, kDefault), file);
    CheckNumbers(section);

    for (const std::string& home : {std::string("/home/user"), std::string()}) {
        for (const std::string_view name : {std::string_view("XDG_DOCUMENTS_DIR"), std::string_view(key)}) {
            if (const auto dir = platform::ReadUserDir(file, name, home)) {
                FUZZ_CHECK(!dir->empty() && dir->front() == '/');
                FUZZ_CHECK(dir->find('\n') == std::string::npos);
            }
        }
    }
    return 0;
}
