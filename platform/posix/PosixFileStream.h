#pragma once
// The file stream on Linux: a descriptor, a buffer of BufferSize bytes written out with
// pwrite when full, and space reserved ahead of the data with fallocate (keeping the
// file's size) in steps of ReserveStep. A file system that cannot reserve is written
// without; its full disk then shows on the write itself.

#include "platform/system/FileStream.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class PosixFileStream : public TFileStream {
public:
    static constexpr std::size_t BufferSize = std::size_t{1} << 20;
    static constexpr std::int64_t ReserveStep = std::int64_t{32} << 20;

    // Takes the open descriptor; `size` is the file's current size (where writing goes on).
    PosixFileStream(int fd, std::string path, std::int64_t size);
    ~PosixFileStream() override;

    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return written_ + static_cast<std::int64_t>(fill_); }
    std::int64_t Position() const override { return Size(); }
    char* BeginWrite(std::size_t count) override;
    void EndWrite(std::size_t count) override;
    void Truncate(std::int64_t size) override;
    void Flush(bool durable = true) override;

private:
    // Writes the buffer to the file; on failure the bytes not written are dropped and
    // EWriteError is raised.
    void WriteBuffer();
    void WriteAt(const char* data, std::size_t count);
    void ReserveUpTo(std::int64_t end);
    [[noreturn]] void Fail(int err);

    int fd_;
    std::string path_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = BufferSize;
    std::size_t fill_ = 0;
    std::int64_t written_ = 0;  // bytes in the file
    std::int64_t reserved_ = 0; // bytes the file system has set aside (from 0)
    bool canReserve_ = true;
};

} // namespace platform
