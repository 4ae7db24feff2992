// The update run: the start timer, the check download, the offer, the installer download
// and the hand-off. Every download is one blocking Get during which the window's handlers
// keep running (timer ticks, clicks, close requests); UpdateState tells them which phase
// is running.

#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"
#include "platform/ui/Application.h"
#include "update/UpdateFrm.h"

using namespace platform;

void TUpdateFrm::Timer1Timer(TComponent*)
{
    // The timer keeps ticking for the whole life of the program; only the first tick with
    // a connection starts the run.
    if (updateState_ == usWaiting)
        RunUpdate();
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

void TUpdateFrm::RunUpdate()
{
    if (!IsConnected())
        return; // still waiting: the next tick tests again

    shownForOffer_ = false;
    TMemoryStream reply;
    updateState_ = usChecking;

    // The check download. Any failure, of any kind, ends the check the same way; its own
    // text is not shown.
    try {
        SetStatus(Entry(53));
        PumpMessages();
        IdHTTP1->Get(CheckAddress(), reply);
        if (updateState_ == usEnding) {
            // The user confirmed a close while the answer arrived and the read still ended
            // normally: what came may be partial, so it is neither saved nor judged. The
            // program is already ending.
            return;
        }
        env_.Sys.WriteFile(OfferedSettingsPath(updateFolder_), reply.Bytes());
    } catch (...) {
        ShowMsg(Entry(54), "", MB_ICONINFORMATION);
        SetStatus(Entry(55));
        Memo->SetLinesText(FormatEntry(56, {installed_.HomePage}));
        if (hiddenMode_)
            env_.App.Terminate();
        updateState_ = usEnding;
        return;
    }

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
    try {
        IdHTTP1->Get(offered_.SetupPath, installer);
        if (updateState_ == usEnding)
            return; // a close was granted and the read ended normally: end quietly
        SetStatus(Entry(64));
        PumpMessages();
        const std::string setup = updateFolder_ + "setup.exe";
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
        ShowMsg(e.Message(), kErrorCaption, MB_ICONERROR);
        cancelBt->SetEnabled(true);
        SetStatus(Entry(61));
        ShowMsg(Entry(62), "", MB_ICONINFORMATION);
        if (shownForOffer_)
            env_.App.Terminate();
    }
}

void TUpdateFrm::IdHTTP1WorkEnd(TComponent*, TWorkMode)
{
    // Only the installer download announces its end; the check download's status line
    // stays on "checking".
    if (updateState_ != usChecking)
        SetStatus(kTransferDoneText);
    PumpMessages();
}
