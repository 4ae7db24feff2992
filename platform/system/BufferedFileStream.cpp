#include "platform/system/BufferedFileStream.h"

#include <algorithm>
#include <cstring>

TBufferedFileStream::TBufferedFileStream(std::string path, std::int64_t size)
    : path_(std::move(path)), buffer_(std::make_unique<char[]>(BufferSize)), written_(size)
{
}

void TBufferedFileStream::WriteBufferQuietly() noexcept
{
    try {
        WriteBuffer();
    } catch (...) {
        // Freed after a failure: what could not be written is lost, the rest stays.
    }
}

void TBufferedFileStream::WriteBuffer()
{
    if (fill_ == 0)
        return;
    const std::size_t n = fill_;
    fill_ = 0;
    WriteOut(buffer_.get(), n);
}

void TBufferedFileStream::Write(const void* data, std::size_t count)
{
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        if (fill_ == 0 && count >= capacity_) {
            WriteOut(p, count); // big writes skip the buffer
            return;
        }
        const std::size_t n = std::min(count, capacity_ - fill_);
        std::memcpy(buffer_.get() + fill_, p, n);
        fill_ += n;
        p += n;
        count -= n;
        if (fill_ == capacity_)
            WriteBuffer();
    }
}

char* TBufferedFileStream::BeginWrite(std::size_t count)
{
    if (count > capacity_ - fill_) {
        WriteBuffer();
        if (count > capacity_) {
            buffer_ = std::make_unique<char[]>(count);
            capacity_ = count;
        }
    }
    return buffer_.get() + fill_;
}

void TBufferedFileStream::EndWrite(std::size_t count)
{
    fill_ += std::min(count, capacity_ - fill_);
    if (fill_ == capacity_)
        WriteBuffer();
}

void TBufferedFileStream::Truncate(std::int64_t size)
{
    if (size < 0 || size >= Size())
        return;
    if (size >= written_) {
        fill_ = static_cast<std::size_t>(size - written_);
        return;
    }
    fill_ = 0;
    CutFile(size);
    written_ = size;
}

void TBufferedFileStream::Flush(bool durable)
{
    WriteBuffer();
    if (durable)
        SyncFile();
}
