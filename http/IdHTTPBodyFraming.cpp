#include "http/IdHTTPBodyFraming.h"

#include "http/IdHTTPStatus.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"

#include <string>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::int64_t ParseContentLength(std::string_view value)
{
    // Blanks around the digits go; a sign, an empty value or one beyond 64 bits is no length.
    const auto length = ParseDecimal(Trim(value), static_cast<std::uint64_t>(INT64_MAX));
    return length ? static_cast<std::int64_t>(*length) : -1;
}

std::optional<std::int64_t> ParseChunkSize(std::string_view line)
{
    std::size_t i = 0;
    std::int64_t size = 0;
    for (; i < line.size(); ++i) {
        const int digit = HexDigit(line[i]);
        if (digit < 0)
            break;
        if (size > (kMaxChunkSize - digit) / 16)
            return std::nullopt;
        size = size * 16 + digit;
    }
    if (i == 0)
        return std::nullopt;
    while (i < line.size() && IsBlankOrTab(line[i]))
        ++i;
    if (i < line.size() && line[i] != ';')
        return std::nullopt;
    return size;
}

bool IsChunkedEncoding(std::string_view transferEncoding)
{
    return LowerCase(transferEncoding).find("chunked") != std::string::npos;
}

TIdBodyFraming DecideBodyFraming(int statusCode, std::int64_t contentLength, std::string_view transferEncoding)
{
    if (StatusHasNoBody(statusCode))
        return TIdBodyFraming::None;
    if (IsChunkedEncoding(transferEncoding))
        return TIdBodyFraming::Chunked;
    if (contentLength > 0)
        return TIdBodyFraming::Sized;
    if (contentLength == 0)
        return TIdBodyFraming::None;
    return TIdBodyFraming::UntilClose;
}

bool KeepAliveByHeaders(bool protocol11, std::string_view connection, std::string_view proxyConnection)
{
    const std::string c = Trim(connection);
    const std::string p = Trim(proxyConnection);
    if (protocol11)
        return !SameText(c, "close") && !SameText(p, "close");
    return SameText(c, "keep-alive") || SameText(p, "keep-alive");
}
