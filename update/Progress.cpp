// Transfer progress: the bar, the status line and the speed line follow each download.

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
    // An installer download that continues a part file starts at the bytes already there;
    // the speed still counts only the bytes that arrive now.
    progressBase_ = installerDownload_ ? installerDownload_->BytesBefore(*IdHTTP1) : 0;
    const std::int64_t max = AWorkCountMax > 0 ? progressBase_ + AWorkCountMax : AWorkCountMax;
    // The bar counts in 32 bits; a larger download is shown scaled so it still moves.
    progressScale_ = max > kBarLimit ? max / kBarLimit + 1 : 1;
    ProgressBar->SetMax(ToBar(max, progressScale_));
    ProgressBar->SetPosition(ToBar(progressBase_, progressScale_));
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
    SetStatus(Entry(CatalogueEntry::Downloading));
    if (AWorkMode != wmRead)
        return;
    ProgressBar->SetPosition(ToBar(progressBase_ + AWorkCount + kBarLead, progressScale_));
    // Whole seconds between wall-clock local times, as an absolute value; a clock change
    // during the transfer changes them. The times have millisecond resolution, so the
    // difference is taken in whole milliseconds first: a day count near 46000 carries
    // rounding noise that would otherwise turn exactly 2 s into 1.999999 s, i.e. 1.
    const double ms = std::round(std::fabs(env_.Sys.Now() - startTime_) * 86400000.0);
    const auto elapsed = static_cast<std::uint32_t>(static_cast<std::int64_t>(ms) / 1000);
    if (elapsed == 0)
        return;
    const double speed = static_cast<double>(AWorkCount) / 1024.0 / elapsed;
    Label2->SetCaption(FormatEntry(CatalogueEntry::Speed, FormatFixed2(speed, env_.Sys.DecimalSeparator())));
    PumpMessages();
}
