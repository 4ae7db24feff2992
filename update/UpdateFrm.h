#pragma once
// The update window: status line, speed line, progress bar, notes box, cancel button and
// the product page link. Its creation handler localizes it, reads the installed settings,
// prepares the update folder and arms the start timer.
//
// Lifetime: the window borrows everything in its environment; the engine and the message
// catalogue it creates live as long as the window, which lives until the program ends.

#include "localization/LocEngine.h"
#include "localization/MessageCatalogue.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"
#include "update/Settings.h"
#include "update/UpdateFolder.h"
#include "update/UpdaterEnvironment.h"

#include <memory>
#include <string>

// The run state: -1 waiting, 0 checking, 1 installing, 2 installer finished, -2 ending.
enum UpdateStateValue : int {
    usEnding = -2,
    usWaiting = -1,
    usChecking = 0,
    usInstalling = 1,
    usInstallerFinished = 2,
};

class TUpdateFrm : public TForm {
public:
    explicit TUpdateFrm(const UpdaterEnvironment& env, TComponent* owner = nullptr);
    ~TUpdateFrm() override;
    UPDATER_CLASS_NAME(TUpdateFrm)

    // Components, owned by the window (freed with it).
    TLabel* Label1;       // status line
    TLabel* Label2;       // speed line
    TLabel* Label3;       // product page link
    TMemo* Memo;          // notes box
    TProgressBar* ProgressBar;
    TButton* cancelBt;
    TTimer* Timer1;

    // Handlers.
    void FormCreate(TComponent* Sender);
    void FormCloseQuery(TComponent* Sender, bool& CanClose);
    void cancelBtClick(TComponent* Sender);

    // Process-wide values of the run.
    bool HiddenMode() const { return hiddenMode_; }
    int LangId() const { return langId_; }
    int UpdateState() const { return updateState_; }
    const InstalledSettings& Installed() const { return installed_; }
    const std::string& UpdateFolder() const { return updateFolder_; }
    const TMessageCatalogue& Catalogue() const { return catalogue_; }
    TLocEngine* Engine() const { return engine_.get(); }
    // The update server's base address and the product page, after "update.ini".
    const std::string& UpdateServer() const { return updateServer_; }
    const std::string& HomePage() const { return homePage_; }

private:
    std::string Entry(int n) const { return catalogue_.Entry(n); }

    const UpdaterEnvironment& env_;
    bool hiddenMode_ = false;
    int langId_ = 0;
    int updateState_ = 0;
    std::unique_ptr<TLocEngine> engine_;
    TMessageCatalogue catalogue_;
    InstalledSettings installed_;
    std::string updateFolder_;
    std::string updateServer_;
    std::string homePage_;
};
