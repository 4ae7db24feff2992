#pragma once
// The update window: status line, speed line, progress bar, notes box, cancel button and
// the product page link. Its creation handler localizes it, reads the installed settings,
// prepares the update folder and arms the start timer.
//
// Lifetime: the window borrows everything in its environment; the engine and the message
// catalogue it creates live as long as the window, which lives until the program ends.

#include "http/IdAntiFreeze.h"
#include "http/IdHTTP.h"
#include "localization/LocEngine.h"
#include "localization/MessageCatalogue.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"
#include "update/Settings.h"
#include "update/SignedOffer.h"
#include "update/UpdateFolder.h"
#include "update/UpdaterEnvironment.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TMemoryStream;
class TStream;

// The downloaded installer is not the one the publisher signed (size or hash).
UPDATER_EXCEPTION_CLASS(EInstallerMismatch, Exception);

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
    TIdHTTP* IdHTTP1;
    TIdAntiFreeze* IdAntiFreeze1;

    // Creation and closing (UpdateFrm.cpp).
    void FormCreate(TComponent* Sender);
    void FormCloseQuery(TComponent* Sender, bool& CanClose);
    void cancelBtClick(TComponent* Sender);

    // The update run (UpdateRun.cpp).
    void Timer1Timer(TComponent* Sender);
    void RunUpdate();
    bool IsConnected();
    // The check address: base address + query with the name's blanks as "_", all lowered.
    std::string CheckAddress() const;
    void IdHTTP1WorkEnd(TComponent* Sender, TWorkMode AWorkMode);
    // Whether offers must carry the publisher's signature ("PublicKey" or a built-in key).
    bool VerifiesOffers() const { return !installed_.PublicKey.empty(); }
    // The verdict on the last check answer; Accepted (with nothing to promise) when offers
    // are not verified.
    const OfferVerdict& LastVerdict() const { return verdict_; }

    // Transfer progress (Progress.cpp).
    void IdHTTP1WorkBegin(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCountMax);
    void IdHTTP1Work(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCount);

    // Prompts and the installer hand-off (Prompts.cpp).
    int ShowMsg(const std::string& text, const std::string& caption, int kind);
    void ShowInfo(const std::string& text);
    void RunAndWait(const std::string& fileName, const std::string& params, int showCmd);
    void Label3Click(TComponent* Sender);

    // Process-wide values of the run.
    bool HiddenMode() const { return hiddenMode_; }
    int LangId() const { return langId_; }
    int UpdateState() const { return updateState_; }
    const InstalledSettings& Installed() const { return installed_; }
    const std::string& UpdateFolder() const { return updateFolder_; }
    const TMessageCatalogue& Catalogue() const { return catalogue_; }
    TLocEngine* Engine() const { return engine_.get(); }
    // The update server's base address and the product page, after "update.ini".
    const std::string& UpdateServer() const { return installed_.UpdateServer; }
    const std::string& HomePage() const { return installed_.HomePage; }
    const OfferedSettings& Offered() const { return offered_; }
    bool ShownForOffer() const { return shownForOffer_; }
    TDateTime StartTime() const { return startTime_; }

private:
    std::string Entry(int n) const { return catalogue_.Entry(n); }
    // Entry n formatted with its fixed arguments. A translation whose placeholders do not
    // fit them falls back to the built-in text, so a faulty language file cannot stop the
    // run or leave a window without its title.
    std::string FormatEntry(int n, const std::vector<FormatArg>& args) const;
    void SetStatus(const std::string& text) { Label1->SetCaption(text); }
    void PumpMessages();
    // The check download into `reply`, bounded by kMaxCheckAnswerSize; false when it failed
    // (the failure has been shown) or the run is ending.
    bool DownloadCheckAnswer(TMemoryStream& reply);
    // The failure of the check, or the refusal of its answer: the box, the status line, the
    // product page in the notes box, and the end of the run.
    void EndCheck(int messageEntry, int statusEntry, int boxType);
    // The signature check of the saved answer; true when the run may use it.
    bool AcceptOffer();
    // The installer download into `destination`, through the signed size bound and hash
    // when offers are verified. Throws on any failure, the mismatch with entry 67's text.
    void DownloadInstaller(TStream& destination);
    // A hidden run past its time budget ends by itself.
    bool HiddenBudgetSpent();

    const UpdaterEnvironment& env_;
    bool hiddenMode_ = false;
    int langId_ = 0;
    int updateState_ = 0;
    std::unique_ptr<TLocEngine> engine_;
    TMessageCatalogue catalogue_;
    InstalledSettings installed_;
    std::string updateFolder_;
    OfferedSettings offered_;
    bool shownForOffer_ = false;
    TDateTime startTime_ = 0;
    TDateTime createdAt_ = 0;
    OfferVerdict verdict_{OfferCheck::Accepted};
    // Read transfers larger than the bar's 32-bit range are shown scaled down by this.
    std::int64_t progressScale_ = 1;
};

// Fixed texts that are not catalogue entries.
inline constexpr const char* kInstallerStartingText = "Application de la mise a jour...";
inline constexpr const char* kTransferDoneText = "Téléchargement terminé avec succès.";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kCheckQuery =
    "index.php?checkupdate&app=%s&version=%s&updatemode=appUpdater&langid=%d";
inline constexpr int SW_SHOW = 5;
// The largest check answer taken; a longer one fails the check.
inline constexpr std::int64_t kMaxCheckAnswerSize = std::int64_t{1} << 20;
