// Transfer progress: the bar, the status line and the speed line follow each download.
// The check download is shown as the client reports it, span by span. The installer's
// body is shown as one transfer from the download's decision to its end, whatever its
// framing (a chunked body is one client span per chunk), and its texts are refreshed at
// most every kProgressRefreshMs, so that a fast body costs the window little and a click
// is still seen at once.

#include "platform/runtime/Convert.h"
#include "platform/runtime/Format.h"
#include "platform/system/System.h"
#include "update/UpdateFrm.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr std::int64_t kBarLimit = std::numeric_limits<int>::max();
// The bar runs this many bytes ahead of the bytes received.
constexpr std::int64_t kBarLead = 40;
// No speed is shown before this much of a transfer has passed (entry 60 stays).
constexpr double kFirstSpeedMs = 1000.0;

int ToBar(std::int64_t value, std::int64_t scale)
{
    const std::int64_t v = value / scale;
    return static_cast<int>(v > kBarLimit ? kBarLimit : (v < 0 ? 0 : v));
}

} // namespace

void TUpdateFrm::IdHTTP1WorkBegin(TComponent*, TWorkMode AWorkMode, std::int64_t AWorkCountMax)
{
    ProgressBar->SetVisible(true);
    if (AWorkMode != wmRead)
        return;
    if (body_.Expected()) {
        // The installer's body began once, at the download's decision; a span is a piece.
        body_.SpanBegin();
        return;
    }
    ShowTransferBegin(0, AWorkCountMax);
}

void TUpdateFrm::ShowTransferBegin(std::int64_t position, std::int64_t max)
{
    // The bar counts in 32 bits; a larger download is shown scaled so it still moves.
    progressScale_ = max > kBarLimit ? max / kBarLimit + 1 : 1;
    ProgressBar->SetMax(ToBar(max, progressScale_));
    ProgressBar->SetPosition(ToBar(position, progressScale_));
    Label2->SetCaption(Entry(CatalogueEntry::SpeedAtStart));
    if (!Label2->Visible()) {
        // The speed line is shown while reading. Its designed place, right of the window's
        // middle, is too narrow for the text in any language, so it takes the line under
        // the bar.
        Label2->SetBounds(8, 68, 345, 13);
        Label2->SetVisible(true);
    }
    startTime_ = env_.Sys.Now();
    PumpMessages();
}

void TUpdateFrm::IdHTTP1Work(TComponent*, TWorkMode AWorkMode, std::int64_t AWorkCount)
{
    if (AWorkMode == wmRead && body_.Expected()) {
        if (!body_.Begun())
            return; // an answer that is not written (a refused range)
        body_.SpanWork(AWorkCount);
        if (!body_.RefreshDue(env_.Sys.Now() * kMsPerDay))
            return;
        SetStatus(Entry(CatalogueEntry::Downloading));
        ShowTransferProgress(body_.Position(), body_.Received());
        // The client does not pump while data keeps coming: this is where clicks are seen.
        PumpMessages();
        return;
    }
    SetStatus(Entry(CatalogueEntry::Downloading));
    if (AWorkMode != wmRead)
        return;
    if (ShowTransferProgress(AWorkCount, AWorkCount))
        PumpMessages();
}

double TUpdateFrm::ElapsedMs() const
{
    // The times have millisecond resolution, so the difference is rounded to whole
    // milliseconds: a day count near 46000 carries rounding noise below that. A clock
    // change during the transfer changes the elapsed time.
    return std::round(std::fabs(MillisecondsBetween(startTime_, env_.Sys.Now())));
}

bool TUpdateFrm::ShowTransferProgress(std::int64_t position, std::int64_t received)
{
    ProgressBar->SetPosition(ToBar(position + kBarLead, progressScale_));
    const double ms = ElapsedMs();
    if (ms < kFirstSpeedMs)
        return false;
    const double speed = static_cast<double>(received) / 1024.0 / (ms / 1000.0);
    Label2->SetCaption(FormatEntry(CatalogueEntry::Speed, FormatFixed2(speed, env_.Sys.DecimalSeparator())));
    return true;
}
