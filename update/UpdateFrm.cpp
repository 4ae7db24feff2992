#include "update/UpdateFrm.h"

#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/system/System.h"
#include "platform/ui/Application.h"
#include "update/StartupSwitches.h"
#include "update/UpdateClientSettings.h"

using namespace platform;

namespace {

TFont OwnFont(int color, unsigned style, int charset)
{
    TFont f;
    f.Name = "MS Sans Serif";
    f.Height = -11;
    f.Charset = charset;
    f.Color = color;
    f.Style = style;
    return f;
}

} // namespace

TUpdateFrm::TUpdateFrm(const UpdaterEnvironment& env, TComponent* owner) : TForm(owner, "UpdateFrm"), env_(env)
{
    // The window as designed; the creation handler relabels and shows it.
    SetCaption("Mise a jour");
    ClientWidth = 362;
    ClientHeight = 150;
    SetBounds(0, 0, 362, 150);
    Position = TPosition::poDesktopCenter;
    BorderStyle = TBorderStyle::bsSingle;
    BorderIcons = biSystemMenu | biMinimize;
    FormStyle = TFormStyle::fsStayOnTop;
    SetColor(clBtnFace);
    SetFont(OwnFont(clWindowText, 0, DEFAULT_CHARSET));

    Label1 = new TLabel(this, "Label1");
    Label1->SetBounds(8, 24, 107, 13);
    Label1->SetCaption("Initialisation en cours...");
    Label1->SetParentFont(false);
    Label1->SetFont(OwnFont(clWindowText, 0, ANSI_CHARSET));

    Label2 = new TLabel(this, "Label2");
    Label2->SetBounds(184, 64, 166, 13);
    Label2->SetCaption("Vitesse de téléchargement : 0 Ko/s");
    Label2->SetVisible(false);

    Label3 = new TLabel(this, "Label3");
    Label3->SetBounds(8, 128, 194, 13);
    Label3->SetCaption("Visiter le site web pour plus d'informations");
    Label3->SetCursor(TCursor::crHandPoint);
    Label3->SetParentFont(false);
    Label3->SetFont(OwnFont(clBlue, fsUnderline, DEFAULT_CHARSET));

    Memo = new TMemo(this, "Memo");
    Memo->SetBounds(8, 88, 345, 33);
    Memo->Border = false;
    Memo->SetColor(clBtnFace);
    Memo->ReadOnly = true;
    Memo->SetTabOrder(1);

    ProgressBar = new TProgressBar(this, "ProgressBar");
    ProgressBar->SetBounds(8, 48, 345, 17);
    ProgressBar->SetVisible(false);
    ProgressBar->SetTabOrder(2);

    cancelBt = new TButton(this, "cancelBt");
    cancelBt->SetBounds(280, 120, 75, 25);
    cancelBt->SetCaption("Annuler");
    cancelBt->Default = true;
    cancelBt->SetTabOrder(0);
    cancelBt->OnClick = [this](TComponent* s) { cancelBtClick(s); };

    Label3->OnClick = [this](TComponent* s) { Label3Click(s); };

    Timer1 = new TTimer(this, "Timer1");
    Timer1->OnTimer = [this](TComponent* s) { Timer1Timer(s); };

    IdHTTP1 = new TIdHTTP(this, env_.Sys, "IdHTTP1");
    ConfigureUpdateClient(*IdHTTP1);
    ConfigureUpdateClientTls(*IdHTTP1, env_.Tls, {});
    IdHTTP1->OnWorkBegin = [this](TComponent* s, TWorkMode m, std::int64_t max) { IdHTTP1WorkBegin(s, m, max); };
    IdHTTP1->OnWork = [this](TComponent* s, TWorkMode m, std::int64_t n) { IdHTTP1Work(s, m, n); };
    IdHTTP1->OnWorkEnd = [this](TComponent* s, TWorkMode m) { IdHTTP1WorkEnd(s, m); };
    IdHTTP1->OnStatus = [this](TComponent*, TIdStatus status, const std::string& text) { LogStatus(status, text); };

    // Loaded inactive with 1 ms slices; the creation handler activates it.
    IdAntiFreeze1 = new TIdAntiFreeze(this, env_.App, "IdAntiFreeze1");
    IdAntiFreeze1->SetActive(false);
    IdAntiFreeze1->SetIdleTimeOut(1);

    // Not part of the window as designed: the time budget of an unattended run.
    BudgetTimer = new TTimer(this, "BudgetTimer");
    BudgetTimer->SetEnabled(false);
    BudgetTimer->OnTimer = [this](TComponent* s) { BudgetTimerTimer(s); };

    OnCreate = [this](TComponent* s) { FormCreate(s); };
    OnCloseQuery = [this](TComponent* s, bool& canClose) { FormCloseQuery(s, canClose); };
}

TUpdateFrm::~TUpdateFrm()
{
    // The window lives until the program ends, so its status is the one the process exits with.
    log_.Write("end: exit status " + std::to_string(ExitCode(exitStatus_)));
}

void TUpdateFrm::FormCreate(TComponent*)
{
    hiddenMode_ = false;
    Timer1->SetEnabled(false);
    langId_ = 0;

    const StartupSwitches sw = ScanStartupSwitches(env_.Params);
    if (sw.Hidden) {
        SetVisible(false);
        hiddenMode_ = true;
    }
    silentMode_ = sw.Silent;
    if (silentMode_)
        SetVisible(false); // never shown, not even for an offer
    if (sw.LangId)
        langId_ = *sw.LangId;
    updateFolder_ = env_.Sys.FallbackFolder();

    engine_ = std::make_unique<TLocEngine>(env_.Sys);
    const char d = env_.Sys.PathDelim();
    const std::string languages = env_.Sys.ExeDir() + "Languages" + d;
    if (langId_ == 0)
        engine_->LoadLanguageFile(languages + "french.lng");
    else if (langId_ == 1)
        engine_->LoadLanguageFile(languages + "english.lng");
    LoadMessageCatalogue(catalogue_, *engine_);
    engine_->TranslateForm(*this);

    if (!Unattended())
        SetVisible(true);

    installed_ = ReadInstalledSettings(env_.Sys, env_.UpdateServer, env_.HomePage, env_.PublicKey);
    updateFolder_ = FormUpdateFolder(env_.Sys, installed_.AppName);
    log_.Open(updateFolder_ + kUpdateLogName);
    LogStart();
    ConfigureUpdateClientTls(*IdHTTP1, env_.Tls, installed_.CAFile);
    proxyResolver_ = std::make_unique<UpdateProxyResolver>(env_.Proxy, installed_.Proxy, kInstalledSettingsFile);
    IdHTTP1->SetProxyResolver(proxyResolver_.get());

    const std::string title = FormatEntry(CatalogueEntry::Title, installed_.AppName);
    env_.App.SetTitle(title);
    SetCaption(title);

    Label1->SetCaption(IsConnected() ? Entry(CatalogueEntry::Online) : Entry(CatalogueEntry::Offline));
    IdAntiFreeze1->SetActive(true);

    updateState_ = UpdateState::Waiting;
    BudgetTimer->SetInterval(env_.UnattendedRunBudgetMs);
    BudgetTimer->SetEnabled(Unattended());
    Timer1->SetEnabled(true);
}

void TUpdateFrm::FormCloseQuery(TComponent*, bool& CanClose)
{
    // A silent run has nobody to ask: it is never shown, and a close that reaches it is granted.
    if (updateState_ != UpdateState::Waiting && !silentMode_) {
        // Asked even in hidden mode: the user closing the window must confirm a running update.
        CanClose = env_.App.MessageBox(nullptr, Entry(CatalogueEntry::CloseQuestion),
                                       Entry(CatalogueEntry::CloseCaption), MB_YESNOCANCEL) == IDYES;
    }
    if (CanClose)
        EndRun();
}

std::string TUpdateFrm::FormatEntryWith(CatalogueEntry e, const std::vector<FormatArg>& args) const
{
    try {
        return Format(catalogue_.Entry(e), args);
    } catch (const EConvertError&) {
        return Format(TMessageCatalogue::Default(e), args);
    }
}

void TUpdateFrm::cancelBtClick(TComponent*) { Close(); }

void TUpdateFrm::LogStart()
{
    std::string switches;
    if (silentMode_)
        switches += " /silent";
    if (hiddenMode_)
        switches += " /hidden";
    switches += " /langid=" + std::to_string(langId_);
    const char* language = langId_ == 0 ? "french.lng" : langId_ == 1 ? "english.lng" : "built-in texts";
    log_.Write("start: \"" + installed_.AppName + "\" version " + installed_.LocalVersion + " build " +
               LogNumber(installed_.LocalBuild) + "; switches" + switches + "; language " + language + "; offers " +
               (VerifiesOffers() ? "verified" : "not verified (no publisher key)"));
}

void TUpdateFrm::LogStatus(TIdStatus status, const std::string& text)
{
    // The connection's road (resolving, connecting to the server or to a proxy); the
    // closing steps add nothing a reader needs.
    if (status == hsDisconnecting || status == hsDisconnected)
        return;
    log_.Write("connection: " + text);
}
