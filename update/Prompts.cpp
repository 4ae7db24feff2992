// The window's ways of reaching the user and the outside world: message boxes, the
// installer hand-off and the product page link.

#include "platform/system/System.h"
#include "platform/ui/Application.h"
#include "update/UpdateFrm.h"

using namespace platform;

int TUpdateFrm::ShowMsg(const std::string& text, const std::string& caption, int kind)
{
    // Hidden runs show nothing; the only question, the offer, comes after the window has
    // been shown. Silent runs never show anything.
    if (hiddenMode_ || silentMode_)
        return 0;
    env_.App.SetActiveWindow(this);
    return env_.App.MessageBox(this, text, caption.empty() ? env_.App.Title() : caption, kind);
}

void TUpdateFrm::ShowInfo(const std::string& text) { ShowMsg(text, installed_.AppName, MB_OK); }

TUpdateFrm::InstallerRun TUpdateFrm::RunAndWait(const std::string& fileName, const std::string& params, int /*showCmd*/)
{
    std::unique_ptr<Process> process = env_.Sys.StartProcess(fileName, {params});
    if (!process)
        return {.Started = false, .Error = env_.Sys.ErrorText(env_.Sys.LastError())};
    // No overall limit: the installer may run as long as it needs, and the window keeps
    // answering meanwhile. A program that cannot be waited for counts as ended, so the
    // wait is never endless.
    for (;;) {
        const Process::WaitResult r = process->Wait(50);
        if (r != Process::WaitResult::Timeout)
            break;
        PumpMessages();
    }
    return {.Started = true, .ExitCode = process->ExitCode()};
}

void TUpdateFrm::Label3Click(TComponent*) { env_.Sys.OpenDocument(installed_.HomePage + "/", updateFolder_); }
