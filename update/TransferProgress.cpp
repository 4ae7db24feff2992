#include "update/TransferProgress.h"

void TTransferProgress::Expect()
{
    Reset();
    expected_ = true;
}

void TTransferProgress::Begin(std::int64_t kept, std::int64_t total)
{
    begun_ = true;
    kept_ = kept;
    total_ = total;
    done_ = 0;
    span_ = 0;
    refreshed_ = false;
}

void TTransferProgress::Reset() { *this = TTransferProgress(); }

void TTransferProgress::SpanWork(std::int64_t count)
{
    // A span's totals only grow; a smaller one would be a new span without its begin.
    if (count > span_)
        span_ = count;
}

void TTransferProgress::SpanEnd()
{
    done_ += span_;
    span_ = 0;
}

bool TTransferProgress::RefreshDue(double nowMs)
{
    const double since = nowMs - lastRefreshMs_;
    if (refreshed_ && since >= 0 && since < kProgressRefreshMs)
        return false;
    refreshed_ = true;
    lastRefreshMs_ = nowMs;
    return true;
}
