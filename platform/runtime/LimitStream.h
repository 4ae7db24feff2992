#pragma once
// A filter in front of another stream that takes at most Limit bytes: the byte after the
// limit ends the write with EStreamLimitExceeded, carrying the text given at construction,
// and nothing of that write reaches the destination. Downloads use it so that a server
// that never stops sending is cut off at a known size instead of at memory exhaustion.
//
// The destination is borrowed and must outlive the filter.

#include "platform/runtime/Exception.h"
#include "platform/runtime/Stream.h"

#include <cstdint>
#include <string>

UPDATER_EXCEPTION_CLASS(EStreamLimitExceeded, Exception);

class TLimitStream : public TStream {
public:
    TLimitStream(TStream& destination, std::int64_t limit, std::string exceededText);

    void Write(const void* data, std::size_t count) override;
    using TStream::Write;
    std::int64_t Size() const override { return destination_.Size(); }
    std::int64_t Position() const override { return destination_.Position(); }
    char* BeginWrite(std::size_t count) override { return destination_.BeginWrite(count); }
    void EndWrite(std::size_t count) override;
    void CutAtPosition() override { destination_.CutAtPosition(); }

    std::int64_t Limit() const { return limit_; }
    // The bytes taken so far.
    std::int64_t Taken() const { return taken_; }

private:
    void Take(std::size_t count);

    TStream& destination_;
    std::int64_t limit_;
    std::string exceededText_;
    std::int64_t taken_ = 0;
};
