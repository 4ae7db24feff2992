#pragma once
// The file stream on Windows: a file handle, a buffer of BufferSize bytes written out with
// WriteFile when full. No space is reserved ahead: a full disk shows on the write itself,
// as an EWriteError with the system's text.

#include "platform/system/FileStream.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class Win32FileStream : public TFileStream {
public:
    static constexpr std::size_t BufferSize = std::size_t{1} << 20;

    // Takes the open handle, positioned at `size`, the file's current size.
    Win32FileStream(void* handle, std::string path, std::int64_t size);
    ~Win32FileStream() override;

    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return written_ + static_cast<std::int64_t>(fill_); }
    std::int64_t Position() const override { return Size(); }
    char* BeginWrite(std::size_t count) override;
    void EndWrite(std::size_t count) override;
    void Truncate(std::int64_t size) override;
    void Flush(bool durable = true) override;

private:
    void WriteBuffer();
    void WriteOut(const char* data, std::size_t count);
    [[noreturn]] void Fail(unsigned long err);

    void* handle_;
    std::string path_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = BufferSize;
    std::size_t fill_ = 0;
    std::int64_t written_ = 0;
};

} // namespace platform
