#pragma once
// The progress of one whole body, made from the client's work spans.
//
// The client reports every read as a span of its own (begin, running totals, end), and a
// chunked body is one span per chunk. The window shows the body as one transfer instead:
// it begins once, when the download has decided how many bytes it keeps from an earlier
// run and how large the whole file is, and then only moves forward, whatever the framing.
// It also tells when the texts are due again, so that a fast body does not redraw the
// window for every block it reads.

#include <cstdint>

// Texts and the bar are refreshed at most this often while a body arrives, in ms. The
// client pumps no messages while data keeps coming, so this is also how soon a click (a
// cancel) is seen during a fast download.
inline constexpr double kProgressRefreshMs = 30.0;

class TTransferProgress {
public:
    // A body is expected (the installer phase): spans that come before Begin (an error or
    // a refused range answered first) are not part of it.
    void Expect();
    // The body begins: `kept` bytes are already in place, `total` is the whole file's size
    // (-1 when no one knows it).
    void Begin(std::int64_t kept, std::int64_t total);
    // Forgets the body: the client's spans are shown one by one again.
    void Reset();

    bool Expected() const { return expected_; }
    bool Begun() const { return begun_; }

    // The client's spans, as its work events report them.
    void SpanBegin() { span_ = 0; }
    void SpanWork(std::int64_t count);
    void SpanEnd();

    std::int64_t Kept() const { return kept_; }
    std::int64_t Total() const { return total_; }
    // The bytes that arrived since Begin.
    std::int64_t Received() const { return done_ + span_; }
    // Where the body stands: the kept bytes and those that arrived.
    std::int64_t Position() const { return kept_ + Received(); }

    // True when the texts were last refreshed kProgressRefreshMs or more before `nowMs` (or
    // never, or the clock went back); it then counts `nowMs` as the last refresh.
    bool RefreshDue(double nowMs);

private:
    bool expected_ = false;
    bool begun_ = false;
    std::int64_t kept_ = 0;
    std::int64_t total_ = -1;
    std::int64_t done_ = 0; // bytes of the spans that ended
    std::int64_t span_ = 0; // bytes of the span in progress
    bool refreshed_ = false;
    double lastRefreshMs_ = 0;
};
