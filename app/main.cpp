// The updater's process entry: scans the command line, creates the message-only main form
// and then the update window, and runs the message loop until the update run asks the
// application to end.

#include "app/Form85.h"
#include "app/RunBudget.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/posix/OpenSslTls.h"
#include "platform/posix/PosixProxyResolver.h"
#include "platform/posix/PosixSystem.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtUiBackend.h"
#include "update/StartupSwitches.h"
#include "update/UpdateFrm.h"

#include <QApplication>

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // The parameters as given, before the toolkit takes out the options it knows.
    const std::vector<std::string> params(argv, argv + argc);

    QApplication qapp(argc, argv);
    platform::QtApplication app(qapp);
    platform::QtUiBackend ui(app);
    platform::PosixSystem sys;
    platform::OpenSslTls tls;

    // Neither a hidden nor a silent run shows its main form.
    if (const StartupSwitches sw = ScanStartupSwitches(params); sw.Hidden || sw.Silent)
        app.SetShowMainForm(false);

    TForm85 mainForm;
    ui.AttachPeers(mainForm);
    mainForm.DoCreate();

    platform::OpenSslCrypto crypto;

    UpdaterEnvironment env{app, sys, params, UPDATER_UPDATE_SERVER, UPDATER_HOME_PAGE};
    env.PublicKey = UPDATER_PUBLIC_KEY;
    env.Crypto = &crypto;
    env.Tls = &tls;
    platform::PosixProxyResolver proxy;
    env.Proxy = &proxy;
    env.UnattendedRunBudgetMs = RunBudgetFromEnvironment(std::getenv(kRunBudgetVariable));
    TUpdateFrm updateFrm(env);
    ui.AttachPeers(updateFrm);
    app.Guard([&] { updateFrm.DoCreate(); });

    // Showing the message-only main form puts nothing on screen.
    if (app.ShowMainForm())
        mainForm.Show();
    app.Run();
    return ExitCode(updateFrm.ExitStatus());
}
