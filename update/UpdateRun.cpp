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

using namespace platform;

void TUpdateFrm::Timer1Timer(TComponent*)
{
    // The timer keeps ticking for the whole life of the program; only the first tick with
    // a connection starts the run. Ticks also come inside the run's downloads, which is
    // where a hidden run that has gone on too long is stopped.
    if (HiddenBudgetSpent()) {
        IdHTTP1->CloseConnection();
        env_.App.Terminate();
        updateState_ = usEnding;
        return;
    }
    if (updateState_ == usWaiting)
        RunUpdate();
}

bool TUpdateFrm::HiddenBudgetSpent()
{
    if (!hiddenMode_ || updateState_ == usEnding)
        return false;
    const double ms = (env_.Sys.Now() - createdAt_) * 86400000.0;
    return ms >= env_.HiddenRunBudgetMs;
}

bool TUpdateFrm::IsConnected()
{
    return env_.ConnectionTest ? env_.ConnectionTest() : env_.Sys.IsConnected();
}

std::string TUpdateFrm::CheckAddress() const
{
    const std::string app = ReplaceAll(installed_.AppName, " ", "_");
    const std::string query = Format(kCheckQuery, {app, installed_.LocalVersion, std::int64_t{langId_}});
    return LowerCase(installed_.UpdateServer + query);
}

void TUpdateFrm::PumpMessages()
{
    env_.App.ProcessMessages();
}

bool TUpdateFrm::DownloadCheckAnswer(TMemoryStream& reply)
{
    // Any failure, of any kind, ends the check the same way; its own text is not shown.
    try {
        SetStatus(Entry(53));
        PumpMessages();
        TLimitStream bounded(reply, kMaxCheckAnswerSize, "The update server's answer is too long.");
        IdHTTP1->Get(CheckAddress(), bounded);
        if (updateState_ == usEnding) {
            // The user confirmed a close while the answer arrived and the read still ended
            // normally: what came may be partial, so it is neither saved nor judged. The
            // program is already ending.
            return false;
        }
        env_.Sys.WriteFile(OfferedSettingsPath(updateFolder_), reply.Bytes());
    } catch (...) {
        EndCheck(54, 55, MB_ICONINFORMATION);
        return false;
    }
    return true;
}

void TUpdateFrm::EndCheck(int messageEntry, int statusEntry, int boxType)
{
    ShowMsg(Entry(messageEntry), "", boxType);
    SetStatus(Entry(statusEntry));
    Memo->SetLinesText(FormatEntry(56, {installed_.HomePage}));
    if (hiddenMode_)
        env_.App.Terminate();
    updateState_ = usEnding;
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
    const OfferLookup lookup = [&answer](const std::string& key) { return answer.ReadString(kOfferedSection, key, ""); };
    if (env_.Crypto) {
        const TDateTime nowUtc = env_.Sys.Now() + env_.Sys.UtcBiasMinutes() / 1440.0;
        verdict_ = VerifyOffer(*env_.Crypto, installed_.PublicKey, lookup, installed_.AppName, nowUtc);
    } else {
        verdict_ = {OfferCheck::NoUsableKey}; // nothing to verify with: refuse
    }
    if (verdict_.Check == OfferCheck::Accepted)
        return true;
    // The answer stays saved as it came, for whoever looks into the refusal.
    EndCheck(65, 66, MB_ICONERROR);
    return false;
}

void TUpdateFrm::RunUpdate()
{
    if (!IsConnected())
        return; // still waiting: the next tick tests again

    shownForOffer_ = false;
    TMemoryStream reply;
    updateState_ = usChecking;
    if (!DownloadCheckAnswer(reply) || !AcceptOffer())
        return;
    reply.Clear();

    offered_ = ReadOfferedSettings(env_.Sys, updateFolder_);
    Memo->AddLine(offered_.WhatNews);
    SetStatus(Entry(53));

    // Equal builds count as up to date.
    if (installed_.LocalBuild >= offered_.WebBuild) {
        ShowMsg(Entry(57), "", MB_ICONINFORMATION);
        env_.App.Terminate();
        return;
    }

    if (hiddenMode_) {
        hiddenMode_ = false;
        shownForOffer_ = true;
        Show();
    }
    const std::string offer = FormatEntry(52, {installed_.AppName, installed_.LocalVersion,
                                                 offered_.WebVersion, offered_.WhatNews});
    if (ShowMsg(offer, "", MB_ICONINFORMATION | MB_YESNOCANCEL) != IDYES) {
        IdHTTP1->CloseConnection();
        env_.App.Terminate();
        return;
    }

    // The installer download and the hand-off.
    TMemoryStream installer;
    updateState_ = usInstalling;
    const std::string setup = updateFolder_ + "setup.exe";
    try {
        DownloadInstaller(installer);
        if (updateState_ == usEnding)
            return; // a close was granted and the read ended normally: end quietly
        SetStatus(Entry(64));
        PumpMessages();
        env_.Sys.WriteFile(setup, installer.Bytes());
        installer.Clear();
        SetStatus(kInstallerStartingText);
        cancelBt->SetEnabled(false);
        ShowInfo(FormatEntry(63, {installed_.AppName}));
        RunAndWait(setup, "/update", SW_SHOW);
        updateState_ = usInstallerFinished;
        PumpMessages();
        env_.Sys.Sleep(4000);
        env_.App.Terminate();
    } catch (const Exception& e) {
        if (VerifiesOffers()) {
            // An installer from an earlier run is not what this offer signed: it must not be
            // left where it could be started by mistake.
            env_.Sys.RemoveFile(setup);
        }
        ShowMsg(e.Message(), kErrorCaption, MB_ICONERROR);
        cancelBt->SetEnabled(true);
        SetStatus(Entry(61));
        ShowMsg(Entry(62), "", MB_ICONINFORMATION);
        if (shownForOffer_)
            env_.App.Terminate();
    }
}

void TUpdateFrm::DownloadInstaller(TStream& destination)
{
    if (!VerifiesOffers()) {
        IdHTTP1->Get(offered_.SetupPath, destination);
        return;
    }
    const SignedInstaller& signedInstaller = verdict_.Installer;
    const std::string mismatch = Entry(67);
    // The bound sits next to the destination so that a byte past the signed size is
    // refused before it is stored; the hash sees every byte the bound lets through.
    TLimitStream bounded(destination, signedInstaller.Size, mismatch);
    THashingStream hashed(bounded, env_.Crypto->NewSha256());
    IdHTTP1->Get(offered_.SetupPath, hashed);
    if (updateState_ == usEnding)
        return; // cancelled: nothing is judged, nothing is kept
    if (bounded.Taken() != signedInstaller.Size || hashed.Final() != signedInstaller.Sha256)
        throw EInstallerMismatch(mismatch);
}

void TUpdateFrm::IdHTTP1WorkEnd(TComponent*, TWorkMode)
{
    // Only the installer download announces its end; the check download's status line
    // stays on "checking".
    if (updateState_ != usChecking)
        SetStatus(kTransferDoneText);
    PumpMessages();
}
