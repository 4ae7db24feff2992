// An answer head as a server sends it: the status line, the header block and what follows,
// read as the client reads them: status code and version, outcome, header values, body
// framing and keep-alive, and every later line as a chunk-size line.
//
// Input: the first byte holds the client's settings (protocol version, HandleRedirects,
// the handler's answer, the redirect count); then the answer's bytes.

#include "FuzzSupport.h"

#include "http/IdException.h"
#include "http/IdHTTPBodyFraming.h"
#include "http/IdHTTPResponse.h"
#include "http/IdHTTPStatus.h"
#include "http/IdHeaderBlockReader.h"
#include "platform/runtime/Strings.h"
#include "tests/support/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A slow, obviously right reading of a chunk-size line to hold the real one against.
std::optional<std::int64_t> ReferenceChunkSize(std::string_view line)
{
    std::size_t i = 0;
    unsigned __int128 size = 0;
    while (i < line.size() && IsHex(line[i])) {
        const char c = line[i++];
        const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        size = size * 16 + static_cast<unsigned>(d);
        if (size > static_cast<unsigned __int128>(kMaxChunkSize))
            return std::nullopt;
    }
    if (i == 0)
        return std::nullopt;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < line.size() && line[i] != ';')
        return std::nullopt;
    return static_cast<std::int64_t>(size);
}

std::int64_t ReferenceContentLength(std::string_view value)
{
    const std::string text = Trim(value);
    if (text.empty())
        return -1;
    unsigned __int128 length = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        length = length * 10 + static_cast<unsigned>(c - '0');
        if (length > static_cast<unsigned __int128>(INT64_MAX))
            return -1;
    }
    return static_cast<std::int64_t>(length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t settings = data[0];
    const bool protocol11 = settings & 1;
    const bool handleRedirects = settings & 2;
    const bool handled = settings & 4;
    const int redirectCount = settings >> 3; // 0..31 against the default maximum of 15
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The status line, its CR before the LF dropped.
    const std::size_t lf = bytes.find('\n');
    std::string_view statusLine = bytes.substr(0, lf);
    if (!statusLine.empty() && statusLine.back() == '\r')
        statusLine.remove_suffix(1);
    bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);

    TIdHTTPResponse response;
    response.ResponseText = std::string(statusLine);
    const int code = response.ResponseCode();
    FUZZ_CHECK(code == StatusCodeOf(statusLine));
    const TIdHTTPProtocolVersion before = response.ResponseVersion;
    response.UpdateResponseVersion();
    if (const auto v = ResponseVersionOf(statusLine))
        FUZZ_CHECK(response.ResponseVersion == (*v == "1.0" ? pv1_0 : pv1_1));
    else
        FUZZ_CHECK(response.ResponseVersion == before);

    FakeSystem system;
    TIdHeaderBlockReader reader(response.RawHeaders);
    std::size_t taken = 0;
    try {
        taken = reader.Feed(bytes);
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        return 0;
    }
    response.ProcessHeaders(system);
    FUZZ_CHECK(response.ContentLength == ReferenceContentLength(response.RawHeaders.Values("Content-Length")));

    const bool hasLocation = !response.Location.empty();
    const TIdHTTPStatusAction action = ClassifyStatus(code, hasLocation);
    if (code == kStatusContinue)
        FUZZ_CHECK(action == TIdHTTPStatusAction::Continue);
    else if (hasLocation)
        FUZZ_CHECK(action == TIdHTTPStatusAction::Redirect);
    else if (code >= 200 && code < 300)
        FUZZ_CHECK(action == TIdHTTPStatusAction::Success);
    if (action == TIdHTTPStatusAction::Redirect) {
        const TIdRedirectDecision decision = DecideRedirect(handleRedirects, redirectCount, 15, handled);
        FUZZ_CHECK(handled || decision == TIdRedirectDecision::Fail);
        FUZZ_CHECK(decision != TIdRedirectDecision::Follow || redirectCount < 15);
    }

    const TIdBodyFraming framing = DecideBodyFraming(code, response.ContentLength, response.TransferEncoding);
    if (StatusHasNoBody(code))
        FUZZ_CHECK(framing == TIdBodyFraming::None);
    if (framing == TIdBodyFraming::Sized)
        FUZZ_CHECK(response.ContentLength > 0 && !IsChunkedEncoding(response.TransferEncoding));
    if (framing == TIdBodyFraming::UntilClose)
        FUZZ_CHECK(response.ContentLength < 0);
    KeepAliveByHeaders(protocol11, response.Connection, response.ProxyConnection);

    // What follows the head: every line read as a chunk-size line.
    std::string_view body = bytes.substr(taken);
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto chunk = ParseChunkSize(line);
        FUZZ_CHECK(chunk == ReferenceChunkSize(line));
        FUZZ_CHECK(!chunk || (*chunk >= 0 && *chunk <= kMaxChunkSize));
    }
    return 0;
}
