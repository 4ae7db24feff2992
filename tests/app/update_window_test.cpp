// The update window's creation and close request on the headless component model: no
// toolkit, an in-memory system, a scripted application.

#include "localization/MessageCatalogue.h"
#include "platform/headless/HeadlessApplication.h"
#include "tests/support/FakeSystem.h"
#include "update/UpdateFrm.h"

#include <gtest/gtest.h>

using platform::HeadlessApplication;

namespace {

const char* kEnglish =
    "[-Header-]\nIsUTF8=1\nUIFont=DejaVu Sans\n"
    "[-Strings-]\n"
    "1=a\n2=b\n3=c\n4=d\n5=e\n6=f\n7=g\n8=h\n9=i\n10=j\n11=k\n12=l\n13=m\n14=n\n15=o\n16=p\n17=q\n18=r\n"
    "19=s\n20=t\n21=u\n22=v\n23=w\n24=x\n25=y\n26=z\n27=a\n28=b\n29=c\n30=d\n31=e\n32=f\n33=g\n34=h\n"
    "35=i\n36=j\n37=k\n38=l\n39=m\n40=Confirm\n41=a\n42=b\n43=c\n44=d\n45=e\n46=f\n47=g\n"
    "48=Stop it?\n49=Online|ready\n50=Offline\n51=Update %s\n"
    "[TUpdateFrm]\n-Caption-=Ignored caption\nLabel3=Visit us\ncancelBt=Cancel,\"Stops the update\"\nMemo=no effect\n";

struct Fixture : ::testing::Test {
    FakeSystem sys;
    HeadlessApplication app;
    std::vector<std::string> params{"/opt/app/update"};

    void SetUp() override
    {
        sys.files["/opt/app/update.ini"] = "[Current]\nVersion=2.1\nbuildId=2015\nAppName=My App\n";
    }
    std::unique_ptr<TUpdateFrm> Create()
    {
        env = std::make_unique<UpdaterEnvironment>(
            UpdaterEnvironment{app, sys, params, "http://127.0.0.1:8080/update/", "http://127.0.0.1:8080"});
        auto f = std::make_unique<TUpdateFrm>(*env);
        f->DoCreate();
        return f;
    }
    std::unique_ptr<UpdaterEnvironment> env;
};

} // namespace

TEST_F(Fixture, DesignedWindowBeforeCreation)
{
    env = std::make_unique<UpdaterEnvironment>(UpdaterEnvironment{app, sys, params, "", ""});
    TUpdateFrm f(*env);
    EXPECT_EQ(f.ClassName(), "TUpdateFrm");
    EXPECT_EQ(f.Name(), "UpdateFrm");
    EXPECT_EQ(f.Caption(), "Mise a jour");
    EXPECT_FALSE(f.Visible());
    EXPECT_EQ(f.ClientWidth, 362);
    EXPECT_EQ(f.ClientHeight, 150);
    EXPECT_EQ(f.BorderIcons, unsigned(biSystemMenu | biMinimize));
    EXPECT_EQ(f.FormStyle, TFormStyle::fsStayOnTop);
    // Ownership order is the design order; the relabelling walks it. The budget timer of an
    // unattended run comes after the designed components.
    std::vector<std::string> names;
    for (auto* c : f.Components())
        names.push_back(c->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"Label1", "Label2", "Label3", "Memo", "ProgressBar", "cancelBt",
                                               "Timer1", "IdHTTP1", "IdAntiFreeze1", "BudgetTimer"}));
    struct Box {
        TControl* c;
        int l, t, w, h;
        bool visible;
        const char* caption;
    } boxes[] = {
        {f.Label1, 8, 24, 107, 13, true, "Initialisation en cours..."},
        {f.Label2, 184, 64, 166, 13, false, "Vitesse de téléchargement : 0 Ko/s"},
        {f.Label3, 8, 128, 194, 13, true, "Visiter le site web pour plus d'informations"},
        {f.Memo, 8, 88, 345, 33, true, ""},
        {f.ProgressBar, 8, 48, 345, 17, false, ""},
        {f.cancelBt, 280, 120, 75, 25, true, "Annuler"},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.c->Name());
        EXPECT_EQ(b.c->Left(), b.l);
        EXPECT_EQ(b.c->Top(), b.t);
        EXPECT_EQ(b.c->Width(), b.w);
        EXPECT_EQ(b.c->Height(), b.h);
        EXPECT_EQ(b.c->Visible(), b.visible);
        EXPECT_EQ(b.c->Caption(), b.caption);
    }
    EXPECT_EQ(f.Label3->Font().Color, clBlue);
    EXPECT_TRUE(f.Label3->Font().Style & fsUnderline);
    EXPECT_EQ(f.Label3->Cursor(), TCursor::crHandPoint);
    EXPECT_TRUE(f.cancelBt->Default);
    EXPECT_TRUE(f.Memo->ReadOnly);
    EXPECT_EQ(f.Timer1->Interval(), 1000);
}

TEST_F(Fixture, CreationWithoutLanguageFileShowsFrenchDefaults)
{
    auto f = Create();
    EXPECT_TRUE(f->Visible());
    EXPECT_FALSE(f->HiddenMode());
    EXPECT_EQ(f->LangId(), 0);
    EXPECT_EQ(f->UpdateState(), UpdateState::Waiting);
    EXPECT_TRUE(f->Timer1->Enabled());
    EXPECT_EQ(f->Caption(), "Mise à jour My App");
    EXPECT_EQ(app.Title(), "Mise à jour My App");
    EXPECT_EQ(f->Label1->Caption(), "Connexion Internet active, Initialisation en cours...");
    // The folder keeps the blank of the name and is created with every missing level.
    EXPECT_EQ(f->UpdateFolder(), "/home/user/Documents/My App/Update/");
    EXPECT_TRUE(sys.dirs.count("/home/user/Documents/My App"));
    EXPECT_TRUE(sys.dirs.count("/home/user/Documents/My App/Update"));
    EXPECT_EQ(f->Installed().LocalVersion, "2.1");
    EXPECT_EQ(f->Installed().LocalBuild, 2015.0);
    EXPECT_EQ(f->UpdateServer(), "http://127.0.0.1:8080/update/");
}

TEST_F(Fixture, EnglishFileRelabelsAndTitleReplacesItsCaption)
{
    sys.files["/opt/app/Languages/english.lng"] = kEnglish;
    sys.connected = false;
    params.push_back("/LangId=1");
    auto f = Create();
    EXPECT_EQ(f->LangId(), 1);
    EXPECT_EQ(f->Caption(), "Update My App");
    EXPECT_EQ(f->Label1->Caption(), "Offline");
    EXPECT_EQ(f->Label3->Caption(), "Visit us");
    EXPECT_EQ(f->cancelBt->Caption(), "Cancel");
    EXPECT_EQ(f->cancelBt->Hint(), "Stops the update");
    EXPECT_EQ(f->Font().Name, "DejaVu Sans");
    EXPECT_EQ(f->Label3->Font().Name, "MS Sans Serif"); // own font: not followed
    EXPECT_EQ(f->Catalogue().Entry(CatalogueEntry::Online), "Online\r\nready");
    EXPECT_EQ(f->Catalogue().Entry(CatalogueEntry::Offer), TMessageCatalogue::Default(CatalogueEntry::Offer));
}

TEST_F(Fixture, HiddenModeAndOtherLanguageNumbers)
{
    params = {"/opt/app/update", "x", " /HIDDEN ", "/langid=7"};
    sys.files["/opt/app/Languages/french.lng"] = "[-Strings-]\n1=x\n";
    auto f = Create();
    EXPECT_TRUE(f->HiddenMode());
    EXPECT_FALSE(f->Visible());
    EXPECT_EQ(f->LangId(), 7);
    EXPECT_EQ(f->Catalogue().Entry(1), TMessageCatalogue::Default(1)); // no file loaded
    EXPECT_EQ(f->Font().Name, "MS Sans Serif");
    EXPECT_TRUE(f->Timer1->Enabled());
}

TEST_F(Fixture, NoDocumentsFolderKeepsTheFallbackAndEmptyNameGivesTwoSeparators)
{
    sys.files.erase("/opt/app/update.ini");
    auto f = Create();
    EXPECT_EQ(f->UpdateFolder(), "/home/user/Documents//Update/");
    EXPECT_EQ(f->Caption(), "Mise à jour ");
    EXPECT_EQ(f->Installed().LocalBuild, 2012.0);

    sys.documents.reset();
    auto g = Create();
    EXPECT_EQ(g->UpdateFolder(), sys.FallbackFolder());
}

TEST_F(Fixture, CloseBeforeTheFirstTickIsGrantedWithoutAQuestion)
{
    auto f = Create();
    f->cancelBt->Click();
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_FALSE(f->Visible());
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(f->UpdateState(), UpdateState::Ending);
}

TEST_F(Fixture, CloseDuringTheRunAsksAndOnlyYesEnds)
{
    auto f = Create();
    f->cancelBt->Click(); // first close: granted, state -2
    ASSERT_EQ(f->UpdateState(), UpdateState::Ending);
    // From now on every close asks, even in hidden mode.
    int answer = platform::IDNO;
    app.SetAnswerer([&](const HeadlessApplication::Box&) { return answer; });
    f->Show();
    f->Close();
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].Text, "La mise a jour est en cours de telechargement. Souhaiter vous l'arreter?");
    EXPECT_EQ(app.Boxes()[0].Caption, "Confirmation");
    EXPECT_EQ(app.Boxes()[0].Type, platform::MB_YESNOCANCEL);
    EXPECT_TRUE(f->Visible());
    answer = platform::IDCANCEL;
    f->Close();
    EXPECT_TRUE(f->Visible());
    answer = platform::IDYES;
    f->Close();
    EXPECT_FALSE(f->Visible());
    EXPECT_EQ(f->UpdateState(), UpdateState::Ending);
}

TEST_F(Fixture, ATranslationWithWrongPlaceholdersFallsBackToTheBuiltInText)
{
    std::string file = kEnglish;
    file.replace(file.find("51=Update %s"), 12, "51=Update %d");
    sys.files["/opt/app/Languages/english.lng"] = file;
    params.push_back("/langid=1");
    auto f = Create();
    // The creation still completes: title from the built-in text, timer armed.
    EXPECT_EQ(f->Caption(), "Mise à jour My App");
    EXPECT_EQ(f->UpdateState(), UpdateState::Waiting);
    EXPECT_TRUE(f->Timer1->Enabled());
    EXPECT_TRUE(app.Boxes().empty());
}
