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
    if (!Unattended() || updateState_ == UpdateState::Ending)
        return;
    log_.Write("time budget of " + std::to_string(env_.UnattendedRunBudgetMs / 1000) +
               " s spent: the unattended run ends");
    SetOutcome(updateState_ == UpdateState::Installing ? ExitStatus::InstallerFailed : ExitStatus::CheckFailed);
    EndRun();
}

void TUpdateFrm::EndRun()
{
    // Ends a download in progress: the waiting Get returns or fails, and the phase that
    // waited sees the state.
    IdHTTP1->CloseConnection();
    EndProgram("the run was closed");
    updateState_ = UpdateState::Ending;
}

void TUpdateFrm::EndProgram(const std::string& why)
{
    if (!endLogged_) {
        endLogged_ = true;
        log_.Write("ending: " + why);
    }
    env_.App.Terminate();
}

void TUpdateFrm::SetOutcome(::ExitStatus status)
{
    if (silentMode_)
        exitStatus_ = status;
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
    log_.Write("another run of this application holds " + updateFolder_ + kRunLockName + ": this one ends");
    SetOutcome(::ExitStatus::AlreadyRunning);
    if (!silentMode_)
        ShowMsg(FormatEntry(CatalogueEntry::AlreadyRunning, installed_.AppName), "", MB_ICONINFORMATION);
    EndProgram("another run is in progress");
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
    log_.Write(failure.LogText);
    SetOutcome(failure.Outcome);
    ShowMsg(failure.Message, failure.Caption, failure.BoxType);
    cancelBt->SetEnabled(true);
    SetStatus(failure.Status);
    // The cause goes first: the notes box shows two lines, and the product page's hint
    // has the link below it anyway.
    if (failure.Notes)
        Memo->SetLinesText(failure.Reason ? *failure.Reason + "\r\n" + *failure.Notes : *failure.Notes);
    if (failure.FollowUp)
        ShowMsg(*failure.FollowUp, "", MB_ICONINFORMATION);
    // Nobody is there to read the window, or its last box said that the updater closes.
    if (RunWasHidden() || failure.EndsProgram)
        EndProgram("after the failure");
    if (failure.EndsRun)
        updateState_ = UpdateState::Ending;
}

std::optional<std::string> TUpdateFrm::ReasonLine(RunReason reason, const std::string& detail) const
{
    const std::optional<CatalogueEntry> entry = ReasonEntry(reason);
    if (!entry)
        return std::nullopt;
    if (*entry == CatalogueEntry::ReasonHttpStatus)
        return FormatEntry(CatalogueEntry::ReasonHttpStatus, detail);
    return catalogue_.Entry(*entry);
}

TUpdateFrm::RunFailure TUpdateFrm::CheckFailure(TPlainEntry message, TPlainEntry status, int boxType, RunReason reason,
                                                const std::string& detail) const
{
    return {.Message = Entry(message),
            .BoxType = boxType,
            .Status = Entry(status),
            .Notes = FormatEntry(CatalogueEntry::ManualUpdate, installed_.HomePage),
            .Reason = ReasonLine(reason, detail),
            .EndsRun = true};
}

TUpdateFrm::RunFailure TUpdateFrm::InstallerFailure(const Exception& e) const
{
    const std::string logText = std::string("installer failed: ") + e.ClassName() + ": " + e.Message();
    // A disk without room says all there is to say in its own box; any other failure shows
    // its text under "Error", then that the download failed and the updater closes, which
    // it then does.
    if (dynamic_cast<const EInstallerNoRoom*>(&e))
        return {.Message = e.Message(),
                .BoxType = MB_ICONERROR,
                .Status = Entry(CatalogueEntry::UpdateFailed),
                .Outcome = ExitStatus::NoRoom,
                .LogText = logText};
    return {.Message = e.Message(),
            .Caption = kErrorCaption,
            .BoxType = MB_ICONERROR,
            .Status = Entry(CatalogueEntry::UpdateFailed),
            .FollowUp = Entry(CatalogueEntry::DownloadFailed),
            .EndsProgram = true,
            .Outcome = ExitStatus::InstallerFailed,
            .LogText = logText};
}

bool TUpdateFrm::RunCheckPhase()
{
    if (!DownloadCheckAnswer() || !AcceptOffer())
        return false;
    offered_ = ReadOfferedSettings(env_.Sys, updateFolder_);
    log_.Write(
        "offer: build " + LogNumber(offered_.WebBuild) + ", version " + offered_.WebVersion + ", installer " +
        offered_.SetupPath +
        (VerifiesOffers() ? ", " + std::to_string(verdict_.Installer.Size) + " bytes signed" : ", size not signed"));
    Memo->AddLine(offered_.WhatNews);
    SetStatus(Entry(CatalogueEntry::Checking));

    // Equal builds count as up to date.
    if (installed_.LocalBuild >= offered_.WebBuild) {
        log_.Write("up to date: installed build " + LogNumber(installed_.LocalBuild) + ", offered build " +
                   LogNumber(offered_.WebBuild));
        ShowMsg(Entry(CatalogueEntry::UpToDate), "", MB_ICONINFORMATION);
        SetOutcome(ExitStatus::Success);
        EndProgram("up to date");
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
        const std::string address = CheckAddress();
        log_.Write("check: " + address);
        IdHTTP1->Get(address, bounded);
        log_.Write("check answer: " + IdHTTP1->Response().ResponseText + ", " + std::to_string(reply.Size()) +
                   " bytes");
        if (updateState_ == UpdateState::Ending) {
            // The user confirmed a close while the answer arrived and the read still ended
            // normally: what came may be partial, so it is neither saved nor judged. The
            // program is already ending.
            return false;
        }
        env_.Sys.WriteFile(OfferedSettingsPath(updateFolder_), reply.Bytes());
    } catch (...) {
        const FailureCause cause = ClassifyFailure(std::current_exception());
        RunFailure failure = CheckFailure(CatalogueEntry::ServerUnreachable, CatalogueEntry::CheckFailed,
                                          MB_ICONINFORMATION, cause.Reason, cause.Message);
        failure.Outcome = ExitStatus::CheckFailed;
        failure.LogText = "check failed: " + cause.ClassName + ": " + cause.Message;
        FailRun(failure);
        return false;
    }
    return true;
}

bool TUpdateFrm::AcceptOffer()
{
    if (!VerifiesOffers()) {
        verdict_ = {OfferCheck::Accepted, {}, "not verified: no publisher key is configured"};
        log_.Write("verdict: " + verdict_.Reason);
        return true;
    }
    // The saved file is read through the same reader as the offered settings, so the texts
    // verified are the texts used.
    TSettingsFile answer(env_.Sys, OfferedSettingsPath(updateFolder_));
    const OfferLookup lookup = [&answer](const std::string& key) {
        return answer.ReadString(kOfferedSection, key, "");
    };
    if (env_.Crypto) {
        const TDateTime nowUtc = env_.Sys.Now() + env_.Sys.UtcBiasMinutes() / kMinutesPerDay;
        verdict_ = VerifyOffer(*env_.Crypto, installed_.PublicKey, lookup, installed_.AppName, nowUtc);
    } else {
        verdict_ = {OfferCheck::NoUsableKey, {}, "no security services to verify with"}; // refuse
    }
    const std::string verdictText = std::string(OfferCheckName(verdict_.Check)) + ": " + verdict_.Reason;
    if (verdict_.Check == OfferCheck::Accepted) {
        log_.Write("verdict: " + verdictText);
        return true;
    }
    // The answer stays saved as it came, for whoever looks into the refusal.
    RunFailure failure = CheckFailure(CatalogueEntry::AnswerUnverified, CatalogueEntry::AnswerRefused, MB_ICONERROR,
                                      ReasonOfVerdict(verdict_.Check), "");
    failure.Outcome = ExitStatus::AnswerRefused;
    failure.LogText = "verdict: refused, " + verdictText;
    FailRun(failure);
    return false;
}

bool TUpdateFrm::SilentRunMayInstall()
{
    // Nobody is asked, so only an offer that a publisher's key verified is taken: an
    // unverified one is never installed without a person's consent.
    if (VerifiesOffers()) {
        log_.Write("offer: taken without a question (silent run, verified offer)");
        return true;
    }
    log_.Write("offer: build " + LogNumber(offered_.WebBuild) +
               " is newer, but no publisher key is configured: a silent run installs nothing");
    SetOutcome(ExitStatus::NoPublisherKey);
    IdHTTP1->CloseConnection();
    EndProgram("newer build offered without a publisher key");
    return false;
}

bool TUpdateFrm::RunOfferPhase()
{
    if (silentMode_)
        return SilentRunMayInstall();
    if (hiddenMode_) {
        hiddenMode_ = false;
        shownForOffer_ = true;
        BudgetTimer->SetEnabled(Unattended()); // someone may now be there to answer
        Show();
    }
    const std::string offer = FormatEntry(CatalogueEntry::Offer, installed_.AppName, installed_.LocalVersion,
                                          offered_.WebVersion, offered_.WhatNews);
    if (ShowMsg(offer, "", MB_ICONINFORMATION | MB_YESNOCANCEL) == IDYES) {
        log_.Write("offer: accepted by the user");
        return true;
    }
    log_.Write("offer: declined");
    IdHTTP1->CloseConnection();
    EndProgram("offer declined");
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
        RunFailure failure = InstallerFailure(e);
        const std::string kept = download.KeptForResume();
        if (!kept.empty())
            failure.LogText += " " + kept;
        FailRun(failure);
    }
}

void TUpdateFrm::InstallAndWait(TFileDownload& download, const std::string& setup)
{
    log_.Write("download: " + offered_.SetupPath);
    const TDateTime started = env_.Sys.Now();
    DownloadInstaller(download);
    if (updateState_ == UpdateState::Ending) {
        body_.Reset();
        const std::string kept = download.KeptForResume();
        log_.Write("download: closed while it ran" + (kept.empty() ? std::string() : "; " + kept));
        return; // a close was granted and the read ended normally: end quietly
    }
    LogDownload(download, started);
    InstallerBodyEnded();
    SetStatus(Entry(CatalogueEntry::SavingInstaller));
    PumpMessages();
    download.Commit(); // a signed offer's verdict comes first
    log_.Write("installer saved: " + setup);
    SetStatus(kInstallerStartingText);
    cancelBt->SetEnabled(false);
    BudgetTimer->SetEnabled(false); // the installer is waited for however long it runs
    ShowInfo(FormatEntry(CatalogueEntry::CloseInstances, installed_.AppName));
    HandOver(setup);
}

void TUpdateFrm::LogDownload(TFileDownload& download, TDateTime started)
{
    if (download.UsedCompletePart()) {
        log_.Write("download: the part kept from an earlier run is complete (" + std::to_string(body_.Position()) +
                   " bytes); nothing new was downloaded");
        return;
    }
    const std::int64_t resumed = body_.Kept();
    const std::int64_t total = body_.Position(); // the kept bytes and the new ones
    const double seconds = MillisecondsBetween(started, env_.Sys.Now()) / 1000.0;
    const double kibPerSecond = seconds > 0 ? static_cast<double>(total - resumed) / 1024.0 / seconds : 0.0;
    log_.Write("download: " + IdHTTP1->Response().ResponseText + ", " + std::to_string(total) +
               " bytes (resumed from " + std::to_string(resumed) + ") in " + LogNumber(seconds, 3) + " s, " +
               LogNumber(kibPerSecond, 1) + " KiB/s");
}

void TUpdateFrm::HandOver(const std::string& setup)
{
    log_.Write("installer: starting " + setup + " /update");
    const InstallerRun run = RunAndWait(setup, "/update", SW_SHOW);
    updateState_ = UpdateState::InstallerFinished;
    if (!run.Started) {
        // Nothing ran, so there is nothing to pause for: the box says why and the updater ends.
        log_.Write("installer: not started: " + run.Error);
        SetOutcome(ExitStatus::InstallerFailed);
        if (!silentMode_)
            env_.App.ShowMessage(FormatEntry(CatalogueEntry::InstallerNotStarted, run.Error));
        EndProgram("the installer could not be started");
        return;
    }
    log_.Write("installer: ended with exit status " + (run.ExitCode ? std::to_string(*run.ExitCode) : "unknown"));
    SetOutcome(ExitStatus::Installed);
    PumpMessages();
    // The pause lets a person read the window's last words; a silent run has none.
    if (!silentMode_)
        env_.Sys.Sleep(4000);
    EndProgram("the installer has ended");
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
