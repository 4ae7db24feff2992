// The update run: the start timer, the check download, the offer, the installer download
// and the hand-off. Every download is one blocking Get during which the window's handlers
// keep running (timer ticks, clicks, close requests); UpdateState tells them which phase
// is running.

#include "platform/crypto/HashingStream.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/LimitStream.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include "platform/ui/Application.h"
#include "update/SettingsFile.h"
#include "update/UpdateFrm.h"

#include <optional>

using namespace platform;

void TUpdateFrm::Timer1Timer(TComponent*)
{
    // The timer keeps ticking for the whole life of the program; only the first tick with
    // a connection starts the run.
    if (updateState_ == UpdateState::Waiting)
        RunUpdate();
}

void TUpdateFrm::BudgetTimerTimer(TComponent*)
{
    // Fires inside whatever the run waits on (a connect, a trickling answer, the installer
    // download), since the waits pump messages. The waiting Get then ends and its phase
    // sees the run ending. A run that has shown its window, or has handed over to the
    // installer, has stopped this timer.
    BudgetTimer->SetEnabled(false);
    if (Unattended() && updateState_ != UpdateState::Ending)
        EndRun();
}

void TUpdateFrm::EndRun()
{
    // Ends a download in progress: the waiting Get returns or fails, and the phase that
    // waited sees the state.
    IdHTTP1->CloseConnection();
    env_.App.Terminate();
    updateState_ = UpdateState::Ending;
}

bool TUpdateFrm::TakeRunLock()
{
    try {
        runLock_ = env_.Sys.TryLockFile(updateFolder_ + kRunLockName);
    } catch (const Exception&) {
        return true; // no lock can be made there; the run's own files say what is wrong
    }
    if (runLock_)
        return true;
    // Another run is checking, downloading or waiting for its installer: this one would
    // resume its part file under it or start a second installer beside the first.
    updateState_ = UpdateState::Ending;
    BudgetTimer->SetEnabled(false);
    if (silentMode_)
        exitStatus_ = ::ExitStatus::AlreadyRunning;
    else
        ShowMsg(FormatEntry(CatalogueEntry::AlreadyRunning, installed_.AppName), "", MB_ICONINFORMATION);
    env_.App.Terminate();
    return false;
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
    if (!TakeRunLock())
        return;

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
        BudgetTimer->SetEnabled(Unattended()); // someone may now be there to answer
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
        installerDownload_ = nullptr;
        if (dynamic_cast<const EInstallerMismatch*>(&e) || dynamic_cast<const EStreamLimitExceeded*>(&e))
            download.Discard(); // not what was signed: nothing of it is worth continuing
        FailRun(InstallerFailure(e));
    }
}

void TUpdateFrm::InstallAndWait(TFileDownload& download, const std::string& setup)
{
    installerDownload_ = &download;
    DownloadInstaller(download);
    installerDownload_ = nullptr;
    if (updateState_ == UpdateState::Ending)
        return; // a close was granted and the read ended normally: end quietly
    SetStatus(Entry(CatalogueEntry::SavingInstaller));
    PumpMessages();
    download.Commit();
    SetStatus(kInstallerStartingText);
    cancelBt->SetEnabled(false);
    BudgetTimer->SetEnabled(false); // the installer is waited for however long it runs
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
    if (VerifiesOffers()) {
        download.Open(offered_.SetupPath, "sha256 " + HexDigest(verdict_.Installer.Sha256), true);
        DownloadVerifiedInstaller(download);
        return;
    }
    download.Open(offered_.SetupPath, "build " + std::to_string(offered_.WebBuild), true);
    download.OnStart = [this](std::int64_t, std::int64_t announced) { CheckFreeSpace(announced); };
    download.Run(*IdHTTP1);
}

void TUpdateFrm::DownloadVerifiedInstaller(TFileDownload& download)
{
    const SignedInstaller& signedInstaller = verdict_.Installer;
    const std::string mismatch = Entry(CatalogueEntry::InstallerMismatch);
    // The bound sits next to the file so that a byte past the signed size is refused before
    // it is stored; the hash sees every byte, those kept from an earlier run first. Both are
    // made when the answer shows how many bytes are kept.
    std::optional<TLimitStream> bounded;
    std::optional<THashingStream> hashed;
    std::int64_t kept = 0;
    download.OnStart = [&](std::int64_t keptBytes, std::int64_t announced) {
        kept = keptBytes;
        if (kept > signedInstaller.Size)
            throw EInstallerMismatch(mismatch);
        CheckFreeSpace(announced >= 0 ? announced : signedInstaller.Size - kept);
        hashed.reset();
        bounded.emplace(download.File(), signedInstaller.Size - kept, mismatch);
        hashed.emplace(*bounded, env_.Crypto->NewSha256());
        HashKeptPart(download, kept, *hashed, mismatch);
        download.SetDestination(*hashed);
    };
    download.Run(*IdHTTP1);
    download.SetDestination(download.File());
    if (updateState_ == UpdateState::Ending)
        return; // cancelled: nothing is judged, the part is kept for the next run
    if (!hashed || kept + bounded->Taken() != signedInstaller.Size || hashed->Final() != signedInstaller.Sha256)
        throw EInstallerMismatch(mismatch);
}

void TUpdateFrm::HashKeptPart(TFileDownload& download, std::int64_t kept, THashingStream& hashed,
                              const std::string& mismatch)
{
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    for (std::int64_t at = 0; at < kept;) {
        const std::string piece = env_.Sys.ReadFilePart(download.PartPath(), at, kPiece);
        if (piece.empty())
            throw EInstallerMismatch(mismatch); // the part file is shorter than it was
        hashed.Absorb(piece.data(), piece.size());
        at += static_cast<std::int64_t>(piece.size());
    }
}

void TUpdateFrm::IdHTTP1WorkEnd(TComponent*, TWorkMode)
{
    // Only the installer download announces its end; the check download's status line
    // stays on "checking".
    if (updateState_ != UpdateState::Checking)
        SetStatus(kTransferDoneText);
    PumpMessages();
}
