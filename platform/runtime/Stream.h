#pragma once
// A destination of bytes that a download fills from its current position on: a memory
// buffer, a file, or a filter (a size bound, a running hash) in front of another stream.
//
// Bytes are written either from a buffer of the caller's (Write) or straight into the
// stream's own room (BeginWrite, then EndWrite), which spares a copy on the hot path of a
// body read. Streams that have no room of their own get a scratch buffer from this base,
// so every stream offers both ways.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class TStream {
public:
    TStream() = default;
    virtual ~TStream();
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    TStream(TStream&&) noexcept;
    TStream& operator=(TStream&&) noexcept;

    // Writes at Position; Position moves past the bytes.
    virtual void Write(const void* data, std::size_t count) = 0;
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;

    // BeginWrite gives room for `count` bytes at Position; EndWrite(n) takes the first n of
    // them (n <= count) and moves Position past them. Bytes put there and not taken are not
    // part of the stream. The pointer is valid until the next call on the stream.
    virtual char* BeginWrite(std::size_t count);
    virtual void EndWrite(std::size_t count);

    // Drops whatever lies after Position, so that a failed read leaves nothing of a half
    // block behind. Append-only streams have nothing there.
    virtual void CutAtPosition() {}

private:
    std::unique_ptr<char[]> scratch_;
    std::size_t scratchSize_ = 0;
};
