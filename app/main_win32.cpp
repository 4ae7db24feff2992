// The updater's process entry on Windows: the Win32 window backend. Scans the command
// line, initialises the application (COM for the main thread), creates the message-only main
// form and then the update window, and runs the message loop until the update run asks the
// application to end.

#include "app/Form85.h"
#include "app/RunBudget.h"
#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/SchannelTls.h"
#include "platform/win32/WinHttpProxyResolver.h"
#include "platform/win32/Win32Application.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32UiBackend.h"
#include "update/StartupSwitches.h"
#include "update/UpdateFrm.h"

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> params(argv, argv + argc);

    platform::Win32Application app;
    platform::Win32UiBackend ui(app);
    platform::Win32System sys;

    // Neither a hidden nor a silent run shows its main form.
    if (const StartupSwitches sw = ScanStartupSwitches(params); sw.Hidden || sw.Silent)
        app.SetShowMainForm(false);

    TForm85 mainForm;
    ui.AttachPeers(mainForm);
    mainForm.DoCreate();

    platform::BCryptCrypto crypto;
    platform::SchannelTls tls;

    UpdaterEnvironment env{app, sys, params, UPDATER_UPDATE_SERVER, UPDATER_HOME_PAGE};
    env.PublicKey = UPDATER_PUBLIC_KEY;
    env.Crypto = &crypto;
    env.Tls = &tls;
    platform::WinHttpProxyResolver proxy;
    env.Proxy = &proxy;
    env.UnattendedRunBudgetMs = RunBudgetFromEnvironment(std::getenv(kRunBudgetVariable));
    TUpdateFrm updateFrm(env);
    // The shell's windows (installer start, product page) belong to the update window.
    sys.SetOwnerWindow([&updateFrm] { return platform::Win32UiBackend::WindowOf(&updateFrm); });
    ui.AttachPeers(updateFrm);
    app.Guard([&] { updateFrm.DoCreate(); });

    // Showing the message-only main form puts nothing on screen.
    if (app.ShowMainForm())
        mainForm.Show();
    app.Run();
    return ExitCode(updateFrm.ExitStatus());
}
