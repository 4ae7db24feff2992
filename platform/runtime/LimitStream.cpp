#include "platform/runtime/LimitStream.h"

TLimitStream::TLimitStream(TStream& destination, std::int64_t limit, std::string exceededText)
    : destination_(destination), limit_(limit < 0 ? 0 : limit), exceededText_(std::move(exceededText))
{
}

void TLimitStream::Take(std::size_t count)
{
    if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(limit_ - taken_))
        throw EStreamLimitExceeded(exceededText_);
    taken_ += static_cast<std::int64_t>(count);
}

void TLimitStream::Write(const void* data, std::size_t count)
{
    Take(count);
    destination_.Write(data, count);
}

void TLimitStream::EndWrite(std::size_t count)
{
    Take(count);
    destination_.EndWrite(count);
}
