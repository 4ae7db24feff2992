#include "platform/runtime/Stream.h"

TStream::~TStream() = default;
TStream::TStream(TStream&&) noexcept = default;
TStream& TStream::operator=(TStream&&) noexcept = default;

char* TStream::BeginWrite(std::size_t count)
{
    if (count > scratchSize_) {
        scratch_ = std::make_unique<char[]>(count);
        scratchSize_ = count;
    }
    return scratch_.get();
}

void TStream::EndWrite(std::size_t count)
{
    if (count > 0)
        Write(scratch_.get(), count);
}
