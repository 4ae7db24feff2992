#include "platform/runtime/MemoryStream.h"

#include "platform/runtime/Exception.h"

#include <cstring>
#include <new>
#include <stdexcept>

void TMemoryStream::Write(const void* data, std::size_t count)
{
    if (count == 0)
        return;
    const auto pos = static_cast<std::size_t>(position_);
    try {
        if (pos + count > data_.size())
            data_.resize(pos + count);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    } catch (const std::length_error&) {
        throw EOutOfMemory("Out of memory");
    }
    std::memcpy(data_.data() + pos, data, count);
    position_ += static_cast<std::int64_t>(count);
}

void TMemoryStream::Clear()
{
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}
