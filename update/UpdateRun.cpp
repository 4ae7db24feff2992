// The update run: the start timer, the check download, the offer, the installer download
// and the hand-off. Every download is one blocking Get during which the window's handlers
// keep running (timer ticks, clicks, close requests); UpdateState tells them which phase
// is running.

#include "platform/runtime/Exception.h"
#include "platform/runtime/LimitStream.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include "platform/ui/Application.h"
#include "update/SettingsFile.h"
#include "update/UpdateFrm.h"

#include <memory>
#include <optional>

using namespace platform;

void TUpdateFrm::Timer1Timer(TComponent*)
{
    // The timer keeps ticking for the whole life of the program; only the first tick with
    // a connection starts the run. Ticks also come inside the run's downloads, which is
    // where a hidden run that has gone on too long is stopped.
    if (HiddenBudgetSpent()) {
        EndRun();
        return;
    }
    if (updateState_ == UpdateState::Waiting)
        RunUpdate();
}

bool TUpdateFrm::HiddenBudgetSpent()
{
    if (!hiddenMode_ || updateState_ == UpdateState::Ending)
        return false;
    const double ms = (env_.Sys.Now() - createdAt_) * 86400000.0;
    return ms >= env_.HiddenRunBudgetMs;
}

void TUpdateFrm::EndRun()
{
    // Ends a download in progress: the waiting Get returns or fails, and the phase that
    // waited sees the state.
    IdHTTP1->CloseConnection();
    env_.App.Terminate();
    updateState_ = UpdateState::Ending;
}

bool TUpdateFrm::IsConnected() { return env_.ConnectionTest ? env_.ConnectionTest() : env_.Sys.IsConnected(); }

std::string TUpdateFrm::CheckAddress() const
{
    const std::string app = ReplaceAll(installed_.AppName, " ", "_");
    const std::string query = Format(kCheckQuery, {app, installed_.LocalVersion, std::int64_t{langId_}});
    return LowerCase(installed_.UpdateServer + query);
}

void TUpdateFrm::PumpMessages() { env_.App.ProcessMessages(); }

void TUpdateFrm::RunUpdate()
{
    if (!IsConnected())
        return; // still waiting: the next tick tests again

    shownForOffer_ = false;
    updateState_ = UpdateState::Checking;
    if (RunCheckPhase() && RunOfferPhase())
        RunInstallerPhase();
}

void TUpdateFrm::FailRun(const RunFailure& failure)
{
    ShowMsg(failure.Message, failure.Caption, failure.BoxType);
    cancelBt->SetEnabled(true);
    SetStatus(failure.Status);
    if (failure.Notes)
        Memo->SetLinesText(*failure.Notes);
    if (failure.FollowUp)
        ShowMsg(*failure.FollowUp, "", MB_ICONINFORMATION);
    if (RunWasHidden())
        env_.App.Terminate(); // nobody is there to read the window
    if (failure.EndsRun)
        updateState_ = UpdateState::Ending;
}

TUpdateFrm::RunFailure TUpdateFrm::CheckFailure(TPlainEntry message, TPlainEntry status, int boxType) const
{
    return {.Message = Entry(message),
            .BoxType = boxType,
            .Status = Entry(status),
            .Notes = FormatEntry(CatalogueEntry::ManualUpdate, installed_.HomePage),
            .EndsRun = true};
}

TUpdateFrm::RunFailure TUpdateFrm::InstallerFailure(const Exception& e) const
{
    // A disk without room says all there is to say in its own box; any other failure shows
    // its text under "Error", then that the download failed.
    if (dynamic_cast<const EInstallerNoRoom*>(&e))
        return {.Message = e.Message(), .BoxType = MB_ICONERROR, .Status = Entry(CatalogueEntry::UpdateFailed)};
    return {.Message = e.Message(),
            .Caption = kErrorCaption,
            .BoxType = MB_ICONERROR,
            .Status = Entry(CatalogueEntry::UpdateFailed),
            .FollowUp = Entry(CatalogueEntry::DownloadFailed)};
}

bool TUpdateFrm::RunCheckPhase()
{
    if (!DownloadCheckAnswer() || !AcceptOffer())
        return false;
    offered_ = ReadOfferedSettings(env_.Sys, updateFolder_);
    Memo->AddLine(offered_.WhatNews);
    SetStatus(Entry(CatalogueEntry::Checking));

    // Equal builds count as up to date.
    if (installed_.LocalBuild >= offered_.WebBuild) {
        ShowMsg(Entry(CatalogueEntry::UpToDate), "", MB_ICONINFORMATION);
        env_.App.Terminate();
        return false;
    }
    return true;
}

bool TUpdateFrm::DownloadCheckAnswer()
{
    // Any failure, of any kind, ends the check the same way; its own text is not shown.
    try {
        SetStatus(Entry(CatalogueEntry::Checking));
        PumpMessages();
        TMemoryStream reply;
        TLimitStream bounded(reply, kMaxCheckAnswerSize, "The update server's answer is too long.");
        IdHTTP1->Get(CheckAddress(), bounded);
        if (updateState_ == UpdateState::Ending) {
            // The user confirmed a close while the answer arrived and the read still ended
            // normally: what came may be partial, so it is neither saved nor judged. The
            // program is already ending.
            return false;
        }
        env_.Sys.WriteFile(OfferedSettingsPath(updateFolder_), reply.Bytes());
    } catch (...) {
        FailRun(CheckFailure(CatalogueEntry::ServerUnreachable, CatalogueEntry::CheckFailed, MB_ICONINFORMATION));
        return false;
    }
    return true;
}

bool TUpdateFrm::AcceptOffer()
{
    if (!VerifiesOffers()) {
        verdict_ = {OfferCheck::Accepted};
        return true;
    }
    // The saved file is read through the same reader as the offered settings, so the texts
    // verified are the texts used.
    TSettingsFile answer(env_.Sys, OfferedSettingsPath(updateFolder_));
    const OfferLookup lookup = [&answer](const std::string& key) {
        return answer.ReadString(kOfferedSection, key, "");
    };
    if (env_.Crypto) {
        const TDateTime nowUtc = env_.Sys.Now() + env_.Sys.UtcBiasMinutes() / 1440.0;
        verdict_ = VerifyOffer(*env_.Crypto, installed_.PublicKey, lookup, installed_.AppName, nowUtc);
    } else {
        verdict_ = {OfferCheck::NoUsableKey}; // nothing to verify with: refuse
    }
    if (verdict_.Check == OfferCheck::Accepted)
        return true;
    // The answer stays saved as it came, for whoever looks into the refusal.
    FailRun(CheckFailure(CatalogueEntry::AnswerUnverified, CatalogueEntry::AnswerRefused, MB_ICONERROR));
    return false;
}

bool TUpdateFrm::RunOfferPhase()
{
    if (hiddenMode_) {
        hiddenMode_ = false;
        shownForOffer_ = true;
        Show();
    }
    const std::string offer = FormatEntry(CatalogueEntry::Offer, installed_.AppName, installed_.LocalVersion,
                                          offered_.WebVersion, offered_.WhatNews);
    if (ShowMsg(offer, "", MB_ICONINFORMATION | MB_YESNOCANCEL) == IDYES)
        return true;
    IdHTTP1->CloseConnection();
    env_.App.Terminate();
    return false;
}

void TUpdateFrm::RunInstallerPhase()
{
    // The download goes to "setup.exe.part" and becomes "setup.exe" only once it ended
    // normally and passed its checks; an installer from an earlier run is removed first, so
    // a failed download never leaves one behind.
    updateState_ = UpdateState::Installing;
    const std::string setup = updateFolder_ + "setup.exe";
    TFileDownload download(env_.Sys, setup);
    try {
        env_.Sys.RemoveFile(setup);
        InstallAndWait(download, setup);
    } catch (const Exception& e) {
        body_.Reset();
        FailRun(InstallerFailure(e));
    }
}

void TUpdateFrm::InstallAndWait(TFileDownload& download, const std::string& setup)
{
    DownloadInstaller(download);
    if (updateState_ == UpdateState::Ending) {
        body_.Reset();
        return; // a close was granted and the read ended normally: end quietly
    }
    InstallerBodyEnded();
    SetStatus(Entry(CatalogueEntry::SavingInstaller));
    PumpMessages();
    download.Commit(); // a signed offer's verdict comes first
    SetStatus(kInstallerStartingText);
    cancelBt->SetEnabled(false);
    ShowInfo(FormatEntry(CatalogueEntry::CloseInstances, installed_.AppName));
    RunAndWait(setup, "/update", SW_SHOW);
    updateState_ = UpdateState::InstallerFinished;
    PumpMessages();
    env_.Sys.Sleep(4000);
    env_.App.Terminate();
}

namespace {

std::string HexDigest(const platform::Sha256Digest& d)
{
    static const char* const kHex = "0123456789abcdef";
    std::string r;
    for (unsigned char c : d) {
        r += kHex[c >> 4];
        r += kHex[c & 15];
    }
    return r;
}

// Whole mebibytes: what is needed rounded up, what is free rounded down.
std::string MiB(std::int64_t bytes, bool up)
{
    constexpr std::int64_t kMiB = std::int64_t{1} << 20;
    return std::to_string(up ? (bytes + kMiB - 1) / kMiB : bytes / kMiB);
}

} // namespace

void TUpdateFrm::CheckFreeSpace(std::int64_t needed)
{
    if (needed <= 0)
        return;
    const auto free = env_.Sys.FreeSpace(updateFolder_);
    if (free && *free < needed)
        throw EInstallerNoRoom(
            FormatEntry(CatalogueEntry::NoRoom, MiB(needed, true), updateFolder_, MiB(*free, false)));
}

void TUpdateFrm::DownloadInstaller(TFileDownload& download)
{
    // A part file is continued only for the same offer: the signed hash names it, or,
    // unsigned, the offered build.
    std::string offer = "build " + std::to_string(offered_.WebBuild);
    if (VerifiesOffers()) {
        const SignedInstaller& signedInstaller = verdict_.Installer;
        offer = "sha256 " + HexDigest(signedInstaller.Sha256);
        download.Require(std::make_unique<TSignedFileCheck>(signedInstaller, *env_.Crypto,
                                                            Entry(CatalogueEntry::InstallerMismatch)));
    }
    download.Open(offered_.SetupPath, offer, true);
    download.OnDecided = [this](const DownloadStart& start) { InstallerBodyDecided(start); };
    body_.Expect();
    download.Run(*IdHTTP1);
}

void TUpdateFrm::InstallerBodyDecided(const DownloadStart& start)
{
    CheckFreeSpace(start.Needed());
    body_.Begin(start.Kept, start.Total);
    ShowTransferBegin(start.Kept, start.Total > 0 ? start.Total : 0);
}

void TUpdateFrm::InstallerBodyEnded()
{
    if (body_.Begun()) {
        SetStatus(Entry(CatalogueEntry::Downloading));
        ShowTransferProgress(body_.Position(), body_.Received());
    }
    body_.Reset();
    SetStatus(kTransferDoneText);
    PumpMessages();
}

void TUpdateFrm::IdHTTP1WorkEnd(TComponent*, TWorkMode AWorkMode)
{
    if (AWorkMode == wmRead && body_.Expected()) {
        // A piece of the installer's body: its end is told once, when the body ends.
        body_.SpanEnd();
        return;
    }
    // The check download's status line stays on "checking".
    if (updateState_ != UpdateState::Checking)
        SetStatus(kTransferDoneText);
    PumpMessages();
}
