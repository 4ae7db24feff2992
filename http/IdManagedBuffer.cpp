#include "http/IdManagedBuffer.h"

#include "http/IdException.h"

#include <algorithm>
#include <cstring>

void TIdManagedBuffer::Reserve(std::size_t count)
{
    if (capacity_ - size_ >= count)
        return;
    const std::size_t capacity = std::max(size_ + count, capacity_ * 2);
    // Default-initialised: the new room is written before it is read.
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0)
        std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

void TIdManagedBuffer::Append(std::string_view bytes)
{
    if (bytes.empty())
        return;
    Reserve(bytes.size());
    std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

char* TIdManagedBuffer::PrepareAppend(std::size_t count)
{
    Reserve(count);
    return data_.get() + size_;
}

void TIdManagedBuffer::CommitAppend(std::size_t count) { size_ += std::min(count, capacity_ - size_); }

std::size_t TIdManagedBuffer::IndexOf(char byte, std::size_t from) const
{
    const std::string_view view = View();
    return from >= view.size() ? std::string_view::npos : view.find(byte, from);
}

std::string TIdManagedBuffer::Extract(std::size_t count)
{
    if (count > Size())
        throw EIdNotEnoughDataInBuffer();
    std::string bytes(data_.get() + consumed_, count);
    Consume(count);
    return bytes;
}

void TIdManagedBuffer::ExtractTo(void* destination, std::size_t count)
{
    if (count > Size())
        throw EIdNotEnoughDataInBuffer();
    if (count > 0)
        std::memcpy(destination, data_.get() + consumed_, count);
    Consume(count);
}

void TIdManagedBuffer::Remove(std::size_t count)
{
    if (count > Size())
        throw EIdNotEnoughDataInBuffer();
    Consume(count);
}

void TIdManagedBuffer::Clear()
{
    size_ = 0;
    consumed_ = 0;
}

void TIdManagedBuffer::Consume(std::size_t count)
{
    consumed_ += count;
    if (consumed_ == size_) {
        size_ = 0;
        consumed_ = 0;
    } else if (consumed_ >= CompactThreshold) {
        std::memmove(data_.get(), data_.get() + consumed_, size_ - consumed_);
        size_ -= consumed_;
        consumed_ = 0;
    }
    // Reported after the queue is consistent: the handler may look at it.
    if (OnBytesRemoved && count > 0)
        OnBytesRemoved(static_cast<std::int64_t>(count));
}
