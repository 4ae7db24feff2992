#pragma once
// The part of a file stream that every system shares: a buffer of BufferSize bytes that
// BeginWrite/EndWrite fill in place and that goes to the file when full, big writes that
// skip it, and the bookkeeping of what is in the file and what is still buffered. A
// backend supplies the writes to the file, the cut and the sync.
//
// A backend's destructor calls WriteBufferQuietly() first, so that an interrupted download
// keeps every byte it received (the base cannot: the backend is gone by then).

#include "platform/system/FileStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TBufferedFileStream : public TFileStream {
public:
    // Small enough to stay in the processor's cache between the receive that fills it and
    // the write that empties it: a 1 MiB buffer made a chunked body cost three times the
    // system time of a sized one.
    static constexpr std::size_t BufferSize = std::size_t{128} << 10;

    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return written_ + static_cast<std::int64_t>(fill_); }
    std::int64_t Position() const override { return Size(); }
    char* BeginWrite(std::size_t count) override;
    void EndWrite(std::size_t count) override;
    void Truncate(std::int64_t size) override;
    void Flush(bool durable = true) override;

protected:
    // `size` is the file's current size, where writing goes on.
    TBufferedFileStream(std::string path, std::int64_t size);

    // Writes all `count` bytes at Written(), calling Wrote() as they reach the file, or
    // raises EWriteError (the bytes that did reach it stay counted).
    virtual void WriteOut(const char* data, std::size_t count) = 0;
    // Cuts the file to `size` bytes (below Written()).
    virtual void CutFile(std::int64_t size) = 0;
    // Makes the file's bytes reach the disk.
    virtual void SyncFile() = 0;

    void Wrote(std::size_t count) { written_ += static_cast<std::int64_t>(count); }
    std::int64_t Written() const { return written_; }
    const std::string& Path() const { return path_; }
    void WriteBufferQuietly() noexcept;

private:
    // On failure the bytes not written are dropped, not kept for a later try.
    void WriteBuffer();

    std::string path_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = BufferSize;
    std::size_t fill_ = 0;
    std::int64_t written_ = 0; // bytes in the file
};
