#include "http/IdManagedBuffer.h"

#include "http/IdException.h"

#include <cstring>

char* TIdManagedBuffer::PrepareAppend(std::size_t count)
{
    prepared_ = data_.size();
    data_.resize(prepared_ + count);
    return data_.data() + prepared_;
}

void TIdManagedBuffer::CommitAppend(std::size_t count) { data_.resize(prepared_ + count); }

std::size_t TIdManagedBuffer::IndexOf(char byte, std::size_t from) const
{
    const std::size_t at = data_.find(byte, consumed_ + from);
    return at == std::string::npos ? std::string_view::npos : at - consumed_;
}

std::string TIdManagedBuffer::Extract(std::size_t count)
{
    if (count > Size())
        throw EIdNotEnoughDataInBuffer();
    std::string bytes = data_.substr(consumed_, count);
    Consume(count);
    return bytes;
}

void TIdManagedBuffer::ExtractTo(void* destination, std::size_t count)
{
    if (count > Size())
        throw EIdNotEnoughDataInBuffer();
    if (count > 0)
        std::memcpy(destination, data_.data() + consumed_, count);
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
    data_.clear();
    consumed_ = 0;
}

void TIdManagedBuffer::Consume(std::size_t count)
{
    consumed_ += count;
    if (consumed_ == data_.size()) {
        data_.clear();
        consumed_ = 0;
    } else if (consumed_ >= CompactThreshold) {
        data_.erase(0, consumed_);
        consumed_ = 0;
    }
    // Reported after the queue is consistent: the handler may look at it.
    if (OnBytesRemoved && count > 0)
        OnBytesRemoved(static_cast<std::int64_t>(count));
}
