#pragma once
// How an answer's body is delimited and whether its connection can carry the next request,
// as functions over header values and lines. The client's request cycle feeds them.

#include <cstdint>
#include <optional>
#include <string_view>

// The largest chunk size accepted; a larger one is a broken or hostile line, never a size
// that wraps round to something small or negative.
constexpr std::int64_t kMaxChunkSize = INT64_MAX;

// A "Content-Length" value: trimmed, decimal digits only. -1 when the text is absent, not a
// number, negative or beyond 64 bits; such an answer has no valid length.
std::int64_t ParseContentLength(std::string_view value);

// One chunk-size line (its line end already removed): hexadecimal digits, optional blanks or
// tabs, optionally ";" and chunk extensions, which are ignored. Nothing when the line holds
// no size, something other than that, or a size above kMaxChunkSize. A broken size line must
// not quietly end the body: that would hand a truncated file over as a finished download.
std::optional<std::int64_t> ParseChunkSize(std::string_view line);

// Whether the "Transfer-Encoding" value names the chunked coding (any letter case).
bool IsChunkedEncoding(std::string_view transferEncoding);

enum class TIdBodyFraming {
    None,       // no body: a no-body status or a length of 0
    Sized,      // exactly "Content-Length" bytes
    Chunked,    // size lines and chunks up to the last, empty chunk and the trailer
    UntilClose, // everything until the server closes the connection
};

// The framing of an answer's body. A no-body status (1xx, 204, 304) has none whatever its
// headers say. Chunked transfer coding takes precedence over a "Content-Length" sent beside it:
// reading the length as raw bytes would deliver chunk framing as body data. Then a positive
// length is read exactly, a length of 0 means no body, and without a valid length the body
// runs until the server closes.
TIdBodyFraming DecideBodyFraming(int statusCode, std::int64_t contentLength, std::string_view transferEncoding);

// The header half of the keep-alive rule (the other half is that the connection is still
// open). An HTTP/1.1 client keeps the connection unless "Connection" or "Proxy-Connection"
// is exactly "close" once trimmed (any letter case; "close, TE" does not count); an HTTP/1.0
// client keeps it only when one of them is "keep-alive". The server's own version plays no
// part.
bool KeepAliveByHeaders(bool protocol11, std::string_view connection, std::string_view proxyConnection);
