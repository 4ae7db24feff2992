#pragma once
// The update window: status line, speed line, progress bar, notes box, cancel button and
// the product page link. Its creation handler localizes it, reads the installed settings,
// prepares the update folder and arms the start timer.
//
// Lifetime: the window borrows everything in its environment; the engine and the message
// catalogue it creates live as long as the window, which lives until the program ends.

#include "http/IdAntiFreeze.h"
#include "http/IdHTTP.h"
#include "localization/CatalogueEntry.h"
#include "localization/LocEngine.h"
#include "localization/MessageCatalogue.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"
#include "update/FileDownload.h"
#include "update/ExitStatus.h"
#include "update/RunReason.h"
#include "update/Settings.h"
#include "update/SignedOffer.h"
#include "update/TransferProgress.h"
#include "update/UpdateFolder.h"
#include "update/UpdateLog.h"
#include "update/UpdateProxyResolver.h"
#include "update/UpdateState.h"
#include "update/UpdaterEnvironment.h"
#include "platform/crypto/forward.h"
#include "platform/runtime/forward.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The update folder has no room for the announced installer.
UPDATER_EXCEPTION_CLASS(EInstallerNoRoom, Exception);

class TUpdateFrm : public TForm {
public:
    explicit TUpdateFrm(const UpdaterEnvironment& env, TComponent* owner = nullptr);
    ~TUpdateFrm() override;
    UPDATER_CLASS_NAME(TUpdateFrm)

    // Components, owned by the window (freed with it).
    TLabel* Label1; // status line
    TLabel* Label2; // speed line
    TLabel* Label3; // product page link
    TMemo* Memo;    // notes box
    TProgressBar* ProgressBar;
    TButton* cancelBt;
    TTimer* Timer1;
    TIdHTTP* IdHTTP1;
    TIdAntiFreeze* IdAntiFreeze1;
    // Ends an unattended run that has gone on too long. A timer of its own: the start
    // timer's tick is not re-entered while its handler waits inside a download, so only a
    // second timer fires while the run waits on the network.
    TTimer* BudgetTimer;

    // Creation and closing (UpdateFrm.cpp).
    void FormCreate(TComponent* Sender);
    void FormCloseQuery(TComponent* Sender, bool& CanClose);
    void cancelBtClick(TComponent* Sender);

    // The update run (UpdateRun.cpp).
    void Timer1Timer(TComponent* Sender);
    void BudgetTimerTimer(TComponent* Sender);
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

    // Transfer progress (Progress.cpp). The check download is shown span by span, as the
    // client reports it; the installer's body as one transfer (see TTransferProgress).
    void IdHTTP1WorkBegin(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCountMax);
    void IdHTTP1Work(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCount);

    // Prompts and the installer hand-off (Prompts.cpp).
    // Shows nothing (and answers 0) in a hidden or silent run.
    int ShowMsg(const std::string& text, const std::string& caption, int kind);
    void ShowInfo(const std::string& text);
    // How the installer went: started and waited for (its exit status when the system
    // tells it), or not started, with the system's reason.
    struct InstallerRun {
        bool Started = false;
        std::optional<int> ExitCode{};
        std::string Error{};
    };
    // Starts the installer and waits for it; reports nothing itself.
    InstallerRun RunAndWait(const std::string& fileName, const std::string& params, int showCmd);
    void Label3Click(TComponent* Sender);

    // Process-wide values of the run.
    bool HiddenMode() const { return hiddenMode_; }
    // The "/silent" switch: no window and no box; the outcome is the exit status.
    bool SilentMode() const { return silentMode_; }
    // Nobody is watching: a hidden run before its offer, or a silent run. Such a run has a
    // time budget and nobody to cancel it.
    bool Unattended() const { return hiddenMode_ || silentMode_; }
    const TUpdateLog& Log() const { return log_; }
    // What the process exits with once the run has ended.
    ::ExitStatus ExitStatus() const { return exitStatus_; }
    int LangId() const { return langId_; }
    ::UpdateState UpdateState() const { return updateState_; }
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
    // The text of an entry shown as it is (one without format arguments).
    std::string Entry(TPlainEntry e) const { return catalogue_.Entry(e.Entry); }
    // An entry formatted with its declared arguments; a call with another number of
    // arguments does not compile.
    template <class... A>
    std::string FormatEntry(TFormattedEntry<sizeof...(A)> e, const A&... args) const
    {
        return FormatEntryWith(e.Entry, {FormatArg(args)...});
    }
    // A translation whose placeholders do not fit the arguments falls back to the built-in
    // text, so a faulty language file cannot stop the run or leave a window without its title.
    std::string FormatEntryWith(CatalogueEntry e, const std::vector<FormatArg>& args) const;
    void SetStatus(const std::string& text) { Label1->SetCaption(text); }
    void PumpMessages();
    // Progress display (Progress.cpp): a transfer begins at `position` of `max` bytes (0:
    // unknown); `received` of its bytes arrived since, the bar standing at `position`.
    void ShowTransferBegin(std::int64_t position, std::int64_t max);
    // Sets the bar and the speed line; false in the first second (no speed yet).
    bool ShowTransferProgress(std::int64_t position, std::int64_t received);
    // Whole milliseconds since the transfer's begin, from wall-clock local times as an
    // absolute value.
    double ElapsedMs() const;

    // The three phases of RunUpdate; each returns whether the run goes on. A phase that
    // fails shows it through FailRun.
    // The check: the check download, the signature check of its answer, the offered
    // settings, and the comparison of builds (an up-to-date build ends the run).
    bool RunCheckPhase();
    // The offer: the window is shown if the run was hidden, and the user is asked.
    bool RunOfferPhase();
    // The installer download, its checks, and the hand-off to the installer.
    void RunInstallerPhase();

    // How a failure shows, in every phase: a box with what went wrong, the cancel button
    // usable again, the status line, then what the phase adds (the product page hint in
    // the notes box, a closing box); a run that started hidden then ends.
    struct RunFailure {
        std::string Message{};
        std::string Caption{}; // empty: the application title
        int BoxType = 0;
        std::string Status{};
        std::optional<std::string> Notes{};           // replaces the notes box
        std::optional<std::string> Reason{};          // a line added to the notes box: the cause
        std::optional<std::string> FollowUp{};        // an information box after the status line
        bool EndsRun = false;                         // the run state becomes Ending
        bool EndsProgram = false;                     // the program ends after the boxes
        ::ExitStatus Outcome = ::ExitStatus::Success; // what a silent run exits with
        std::string LogText{};                        // the failure as the log says it
    };
    void FailRun(const RunFailure& failure);
    // A failed check, or a refused answer: `message` in a box, `status`, the product page
    // in the notes box and the line naming `reason`, and the run is over.
    RunFailure CheckFailure(TPlainEntry message, TPlainEntry status, int boxType, RunReason reason,
                            const std::string& detail) const;
    // A failed installer download or hand-off: the failure's text, then that the updater
    // closes, and it does.
    RunFailure InstallerFailure(const Exception& e) const;
    // The reason line of a failed check or a refused answer; nothing for RunReason::None.
    std::optional<std::string> ReasonLine(RunReason reason, const std::string& detail) const;
    // Whether the run started in hidden mode (before the offer, or shown for it), or is silent.
    bool RunWasHidden() const { return hiddenMode_ || shownForOffer_ || silentMode_; }
    // Ends the program: a granted close, or an unattended run out of time.
    void EndRun();
    // The terminate request that ends the program, with the end line of the log.
    void EndProgram(const std::string& why);
    // The exit status of a silent run; interactive and hidden runs keep Success.
    void SetOutcome(::ExitStatus status);
    void LogStart();
    void LogStatus(TIdStatus status, const std::string& text);
    // The verdict on a newer offer in a silent run: false when it must not be installed.
    bool SilentRunMayInstall();
    // The installer started and waited for; the program then ends.
    void HandOver(const std::string& setup);
    // The download's line of the log: status, bytes, resumed from, time and speed.
    void LogDownload(TFileDownload& download, TDateTime started);
    // Takes the lock that makes this the only run for the application; false when another
    // run holds it: the run then ends at once (a box when someone watches, status 25 when
    // silent). A folder where no lock can be made does not stop the run.
    bool TakeRunLock();

    // The check download, bounded by kMaxCheckAnswerSize, saved as "webinfo.ini"; false
    // when it failed (the failure has been shown) or the run is ending.
    bool DownloadCheckAnswer();
    // The signature check of the saved answer; true when the run may use it.
    bool AcceptOffer();
    // Downloads the installer and, unless the run ended meanwhile, starts it and waits.
    void InstallAndWait(TFileDownload& download, const std::string& setup);
    // The installer download into the part file beside "setup.exe", continued when an
    // earlier run left one for this offer, checked against the signed size and hash when
    // offers are verified. Throws on any failure: the mismatch with entry 67's text, a disk
    // too small for the announced size as EInstallerNoRoom with entry 68's.
    void DownloadInstaller(TFileDownload& download);
    // The download has chosen what it writes: the free space is checked and the window
    // shows the whole body from here on.
    void InstallerBodyDecided(const DownloadStart& start);
    // The installer's body arrived whole: the last progress and the end-of-transfer text.
    void InstallerBodyEnded();
    // Throws EInstallerNoRoom when the update folder has less room than `needed` bytes.
    void CheckFreeSpace(std::int64_t needed);

    const UpdaterEnvironment& env_;
    bool hiddenMode_ = false;
    bool silentMode_ = false;
    ::ExitStatus exitStatus_ = ::ExitStatus::Success;
    TUpdateLog log_{env_.Sys};
    bool endLogged_ = false;
    int langId_ = 0;
    ::UpdateState updateState_ = ::UpdateState::Waiting;
    std::unique_ptr<TLocEngine> engine_;
    TMessageCatalogue catalogue_;
    InstalledSettings installed_;
    std::unique_ptr<UpdateProxyResolver> proxyResolver_; // the client's; made with the settings
    std::string updateFolder_;
    OfferedSettings offered_;
    bool shownForOffer_ = false;
    TDateTime startTime_ = 0;
    OfferVerdict verdict_{OfferCheck::Accepted};
    // Held from the start of the run until the program ends; the system releases it when the
    // process dies, so a killed run never blocks the next.
    std::unique_ptr<platform::FileLock> runLock_;
    // Read transfers larger than the bar's 32-bit range are shown scaled down by this.
    std::int64_t progressScale_ = 1;
    // The installer's body, aggregated over the client's spans.
    TTransferProgress body_;
};

// Fixed texts that are not catalogue entries.
inline constexpr const char* kInstallerStartingText = "Application de la mise a jour...";
inline constexpr const char* kTransferDoneText = "Téléchargement terminé avec succès.";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kCheckQuery = "index.php?checkupdate&app=%s&version=%s&updatemode=appUpdater&langid=%d";
inline constexpr int SW_SHOW = 5;
// The lock file in the update folder that one run at a time holds.
inline constexpr const char* kRunLockName = "update.lock";
// The largest check answer taken; a longer one fails the check.
inline constexpr std::int64_t kMaxCheckAnswerSize = std::int64_t{1} << 20;
