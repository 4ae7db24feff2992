#pragma once
// The connection's input queue: bytes are appended at the end and consumed from the
// front. Consuming only advances a count of consumed bytes; the remaining bytes move to
// the front once CompactThreshold consumed bytes have gathered, and consuming everything
// empties the queue at once, so reading small pieces (lines) does not copy the rest.
// Room made for a receive is not cleared first: the receive writes it, and clearing 32 KiB
// per receive was the largest cost of reading a chunked body.
// Every consumption of n bytes (extract or remove, not a clear) is reported to
// OnBytesRemoved(n).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TIdManagedBuffer {
public:
    static constexpr std::size_t CompactThreshold = 32768;

    std::function<void(std::int64_t count)> OnBytesRemoved;

    // The logical size: stored bytes not yet consumed.
    std::size_t Size() const { return size_ - consumed_; }
    bool Empty() const { return Size() == 0; }
    // The unconsumed bytes; valid until the next change.
    std::string_view View() const { return {data_.get() + consumed_, Size()}; }
    // Bytes consumed from the front but not yet reclaimed.
    std::size_t ConsumedBytes() const { return consumed_; }
    std::size_t StoredSize() const { return size_; }

    void Append(std::string_view bytes);
    // Room for `count` bytes at the end, to be filled and then taken with CommitAppend
    // (which may take fewer). The pointer is valid until the next change.
    char* PrepareAppend(std::size_t count);
    void CommitAppend(std::size_t count);

    // The position of `byte` at or after logical offset `from`, or npos.
    std::size_t IndexOf(char byte, std::size_t from) const;

    // Takes the first `count` bytes; more than the queue holds raises
    // EIdNotEnoughDataInBuffer "Not enough data in buffer.".
    std::string Extract(std::size_t count);
    void ExtractTo(void* destination, std::size_t count);
    void Remove(std::size_t count);
    // Empties the queue without reporting anything.
    void Clear();

private:
    void Consume(std::size_t count);
    // Room for `count` more stored bytes; the stored bytes keep their place.
    void Reserve(std::size_t count);

    std::unique_ptr<char[]> data_; // capacity_ bytes, the first size_ of them stored
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::size_t consumed_ = 0;
};
