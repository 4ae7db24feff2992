// Relabelling of windows and components from a language file.

#include "LoadedEngine.h"

#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace {

class TUpdateFrm : public TForm {
public:
    using TForm::TForm;
    UPDATER_CLASS_NAME(TUpdateFrm)
};

class MyWindow : public TForm {
public:
    using TForm::TForm;
    UPDATER_CLASS_NAME(MyWindow)
};

// Counts the changes a backend would mirror, by property.
class RecordingPeer : public TComponentPeer {
public:
    explicit RecordingPeer(std::map<TProperty, int>& counts) : counts_(counts) {}
    void Changed(TComponent&, TProperty what) override { ++counts_[what]; }

private:
    std::map<TProperty, int>& counts_;
};

// TranslateComponent does not depend on a loaded file.
void Translate(TComponent& component, const std::string& value)
{
    FakeSystem system;
    TLocEngine(system).TranslateComponent(component, value);
}

} // namespace

TEST(TranslateComponent, WholeValueKinds)
{
    // Commas, quotes, blanks and bars all stay: these kinds take the value as it is.
    const std::string value = "a, \"b\" c|d";
    struct Case {
        const char* kind;
        std::function<std::unique_ptr<TControl>()> make;
        bool viaText;
    } cases[] = {
        {.kind = "TLabel", .make = [] { return std::make_unique<TLabel>(nullptr); }, .viaText = false},
        {.kind = "TEdit", .make = [] { return std::make_unique<TEdit>(nullptr); }, .viaText = true},
        {.kind = "TCheckBox (not a button)",
         .make = [] { return std::make_unique<TCheckBox>(nullptr); },
         .viaText = false},
        {.kind = "TGroupBox", .make = [] { return std::make_unique<TGroupBox>(nullptr); }, .viaText = false},
        {.kind = "TTabSheet", .make = [] { return std::make_unique<TTabSheet>(nullptr); }, .viaText = false},
        {.kind = "TRadioButton (not a button)",
         .make = [] { return std::make_unique<TRadioButton>(nullptr); },
         .viaText = false},
    };
    for (const auto& c : cases) {
        auto control = c.make();
        control->SetHint("hint");
        Translate(*control, value);
        EXPECT_EQ(c.viaText ? control->Text() : control->Caption(), value) << c.kind;
        EXPECT_EQ(control->Hint(), "hint") << c.kind;
    }

    TMenuItem item(nullptr);
    Translate(item, value);
    EXPECT_EQ(item.Caption, value);
    TOpenDialog open(nullptr);
    Translate(open, "Text files (*.txt)|*.txt|All|*.*");
    EXPECT_EQ(open.Filter, "Text files (*.txt)|*.txt|All|*.*");
    TSaveDialog save(nullptr); // a descendant of the open dialog takes its rule
    Translate(save, "Installers|*.exe");
    EXPECT_EQ(save.Filter, "Installers|*.exe");
}

TEST(TranslateComponent, ButtonsSplitOnlyWithCommaOrQuote)
{
    struct Case {
        const char* name;
        const char* value;
        const char* caption;
        const char* hint;
        bool bitBtn;
    } cases[] = {
        {.name = "blanks kept whole",
         .value = "Close the window",
         .caption = "Close the window",
         .hint = "old hint",
         .bitBtn = false},
        {.name = "comma splits at blanks too",
         .value = "Close window,Leave",
         .caption = "Close",
         .hint = "window",
         .bitBtn = false},
        {.name = "quoted items keep blanks",
         .value = "\"Close window\",\"Leave now\"",
         .caption = "Close window",
         .hint = "Leave now",
         .bitBtn = false},
        {.name = "quote alone splits", .value = "\"Cancel\"", .caption = "Cancel", .hint = "old hint", .bitBtn = false},
        {.name = "third item ignored", .value = "a,b,c", .caption = "a", .hint = "b", .bitBtn = false},
        {.name = "bit button takes the button rule",
         .value = "OK,Confirm",
         .caption = "OK",
         .hint = "Confirm",
         .bitBtn = true},
        {.name = "bar kept", .value = "a|b", .caption = "a|b", .hint = "old hint", .bitBtn = true},
    };
    for (const auto& c : cases) {
        std::unique_ptr<TButton> button =
            c.bitBtn ? std::make_unique<TBitBtn>(nullptr) : std::make_unique<TButton>(nullptr);
        button->SetCaption("old");
        button->SetHint("old hint");
        Translate(*button, c.value);
        EXPECT_EQ(button->Caption(), c.caption) << c.name;
        EXPECT_EQ(button->Hint(), c.hint) << c.name;
    }
}

TEST(TranslateComponent, SpeedButtonAlwaysSplits)
{
    TSpeedButton speed(nullptr);
    speed.SetHint("old hint");
    Translate(speed, "Open file");
    EXPECT_EQ(speed.Caption(), "Open");
    EXPECT_EQ(speed.Hint(), "file");
    Translate(speed, "Save");
    EXPECT_EQ(speed.Caption(), "Save");
    EXPECT_EQ(speed.Hint(), "file"); // one item: the hint stays
    Translate(speed, "");            // no items at all (a value that decoded to nothing): unchanged
    EXPECT_EQ(speed.Caption(), "Save");
}

TEST(TranslateComponent, ComboBoxReplacesItemsAndKeepsAFittingSelection)
{
    struct Case {
        const char* name;
        int selected;
        const char* value;
        std::vector<std::string> items;
        int want;
    } cases[] = {
        {.name = "selection beyond the new list", .selected = 2, .value = "x,y", .items = {"x", "y"}, .want = -1},
        {.name = "selection kept", .selected = 2, .value = "x,y,z,w", .items = {"x", "y", "z", "w"}, .want = 2},
        {.name = "no selection stays none", .selected = -1, .value = "x,y", .items = {"x", "y"}, .want = -1},
        {.name = "empty value empties", .selected = 0, .value = "", .items = {}, .want = -1},
    };
    for (const auto& c : cases) {
        TComboBox combo(nullptr);
        combo.SetItems({"a", "b", "c"});
        combo.SetItemIndex(c.selected);
        Translate(combo, c.value);
        EXPECT_EQ(combo.Items(), c.items) << c.name;
        EXPECT_EQ(combo.ItemIndex(), c.want) << c.name;
    }
}

TEST(TranslateComponent, ListViewColumnsThenRowsWithUpdatesSuspended)
{
    auto make = [] {
        auto list = std::make_unique<TListView>(nullptr);
        list->SetColumns({"c1", "c2"});
        list->SetRows({{.Caption = "r1", .SubItems = {"s1"}}, {.Caption = "r2", .SubItems = {"s2"}}});
        return list;
    };
    std::map<TProperty, int> changes;
    auto list = make();
    list->SetPeer(std::make_unique<RecordingPeer>(changes));
    Translate(*list, "Name,Size,First,Second,Extra");
    EXPECT_EQ(list->Columns(), (TStrings{"Name", "Size"}));
    EXPECT_EQ(list->Rows()[0].Caption, "First");
    EXPECT_EQ(list->Rows()[1].Caption, "Second");
    EXPECT_EQ(list->Rows()[1].SubItems, TStrings{"s2"});
    EXPECT_EQ(list->UpdateCount(), 0);
    // Four texts changed, but the view redrew once for columns and once for rows.
    EXPECT_EQ(changes[TProperty::Columns], 1);
    EXPECT_EQ(changes[TProperty::Rows], 1);

    auto shortList = make();
    Translate(*shortList, "Name,Size,First");
    EXPECT_EQ(shortList->Columns(), (TStrings{"Name", "Size"}));
    EXPECT_EQ(shortList->Rows()[0].Caption, "First");
    EXPECT_EQ(shortList->Rows()[1].Caption, "r2"); // no item: unchanged
}

TEST(TranslateComponent, RadioGroupIsNotAGroupBox)
{
    struct Case {
        const char* name;
        const char* value;
        const char* caption;
        std::vector<std::string> entries;
    } cases[] = {
        {.name = "two items", .value = "Mode,Fast", .caption = "Mode", .entries = {"Fast", "e2", "e3"}},
        {.name = "six items", .value = "Mode,A,B,C,D,E", .caption = "Mode", .entries = {"A", "B", "C"}},
        {.name = "one item", .value = "Mode", .caption = "Mode", .entries = {"e1", "e2", "e3"}},
        {.name = "blank splits", .value = "Pick one", .caption = "Pick", .entries = {"one", "e2", "e3"}},
    };
    for (const auto& c : cases) {
        std::map<TProperty, int> changes;
        TRadioGroup group(nullptr);
        group.SetItems({"e1", "e2", "e3"});
        group.SetPeer(std::make_unique<RecordingPeer>(changes));
        Translate(group, c.value);
        EXPECT_EQ(group.Caption(), c.caption) << c.name;
        EXPECT_EQ(group.Items(), c.entries) << c.name;
        EXPECT_EQ(group.UpdateCount(), 0) << c.name;
        EXPECT_EQ(changes[TProperty::Items], 1) << c.name; // entries changed under one update
    }
}

TEST(TranslateComponent, KindsWithoutARuleAreUntouched)
{
    TMemo memo(nullptr);
    memo.SetLines({"notes"});
    TProgressBar bar(nullptr);
    TCustomGroupBox custom(nullptr);
    Translate(memo, "text");
    Translate(bar, "text");
    Translate(custom, "text");
    EXPECT_EQ(memo.Lines(), TStrings{"notes"});
    EXPECT_EQ(memo.Caption(), "");
    EXPECT_EQ(bar.Caption(), "");
    EXPECT_EQ(custom.Caption(), "");
}

namespace {

// The update window's components, as far as relabelling sees them.
struct Window {
    explicit Window(std::unique_ptr<TForm> f) : form(std::move(f))
    {
        form->SetCaption("Mise a jour");
        label1 = new TLabel(form.get(), "Label1");
        label1->SetCaption("Initialisation en cours...");
        label1->SetParentFont(false); // a font of its own
        label3 = new TLabel(form.get(), "Label3");
        label3->SetCaption("Visiter");
        memo = new TMemo(form.get(), "Memo");
        cancelBt = new TButton(form.get(), "cancelBt");
        cancelBt->SetCaption("Annuler");
    }
    std::unique_ptr<TForm> form;
    TLabel* label1;
    TLabel* label3;
    TMemo* memo;
    TButton* cancelBt;
};

Window UpdateWindow() { return Window(std::make_unique<TUpdateFrm>(nullptr)); }

} // namespace

TEST(TranslateForm, SectionByClassNameThenWithoutT)
{
    struct Case {
        const char* name;
        std::string file;
        const char* label3;
    } cases[] = {
        {.name = "full name", .file = "[TUpdateFrm]\nLabel3=full\n[UpdateFrm]\nLabel3=short", .label3 = "full"},
        {.name = "short name", .file = "[UpdateFrm]\nLabel3=short", .label3 = "short"},
        {.name = "full name without lines", .file = "[TUpdateFrm]\n[UpdateFrm]\nLabel3=short", .label3 = "short"},
        {.name = "full name, bare line only",
         .file = "[TUpdateFrm]\nnote\n[UpdateFrm]\nLabel3=short",
         .label3 = "Visiter"},
        {.name = "names ignore case", .file = "[tupdatefrm]\nlabel3=lower", .label3 = "lower"},
        {.name = "no section", .file = "[Other]\nLabel3=x", .label3 = "Visiter"},
    };
    for (const auto& c : cases) {
        LoadedEngine loaded(c.file);
        Window w = UpdateWindow();
        loaded.engine.TranslateForm(*w.form);
        EXPECT_EQ(w.label3->Caption(), c.label3) << c.name;
    }

    // A class name without the leading T is used as it is, and not shortened.
    LoadedEngine loaded("[yWindow]\nLabel3=cut\n[MyWindow]\n");
    Window w(std::make_unique<MyWindow>(nullptr));
    loaded.engine.TranslateForm(*w.form);
    EXPECT_EQ(w.label3->Caption(), "Visiter");
    EXPECT_EQ(w.form->Font().Name, "MS Sans Serif");
}

TEST(TranslateForm, CaptionRules)
{
    struct Case {
        const char* name;
        std::string file;
        std::string initial;
        std::string want;
    } cases[] = {
        {.name = "narrow, key given",
         .file = "[TUpdateFrm]\n-Caption-=Mise \xE0 jour",
         .initial = "x",
         .want = "Mise \xE0 jour"},
        {.name = "empty value empties", .file = "[TUpdateFrm]\n-Caption-=", .initial = "x", .want = ""},
        {.name = "narrow, absent", .file = "[TUpdateFrm]\nLabel1=a", .initial = "Caption", .want = "Caption"},
        {.name = "UTF-8 decoded",
         .file = "[-Header-]\nIsUTF8=1\n[TUpdateFrm]\n-Caption-=Mise \xC3\xA0 jour",
         .initial = "x",
         .want = "Mise \xC3\xA0 jour"},
        {.name = "UTF-8 broken",
         .file = "[-Header-]\nIsUTF8=1\n[TUpdateFrm]\n-Caption-=Mise \xE0 jour",
         .initial = "x",
         .want = ""},
        // The current caption is kept as it is, not passed through the decoder.
        {.name = "UTF-8, absent",
         .file = "[-Header-]\nIsUTF8=1\n[TUpdateFrm]\nLabel1=a",
         .initial = "Mise \xE0 jour",
         .want = "Mise \xE0 jour"},
        {.name = "no bar replacement", .file = "[TUpdateFrm]\n-Caption-=a|b%/c", .initial = "x", .want = "a|b%/c"},
    };
    for (const auto& c : cases) {
        LoadedEngine loaded(c.file);
        Window w = UpdateWindow();
        w.form->SetCaption(c.initial);
        loaded.engine.TranslateForm(*w.form);
        EXPECT_EQ(w.form->Caption(), c.want) << c.name;
    }
}

TEST(TranslateForm, FontFace)
{
    {
        LoadedEngine loaded("[-Header-]\nUIFont=DejaVu Sans\n");
        Window w = UpdateWindow();
        loaded.engine.TranslateForm(*w.form);
        EXPECT_EQ(w.form->Font().Name, "DejaVu Sans");
        EXPECT_EQ(w.cancelBt->Font().Name, "DejaVu Sans"); // takes the window's font
        EXPECT_EQ(w.label1->Font().Name, "MS Sans Serif"); // has its own
    }
    {
        // A chosen file that is missing still sets the default face.
        FakeSystem system;
        TLocEngine engine(system);
        engine.LoadLanguageFile("/opt/app/Languages/english.lng");
        Window w = UpdateWindow();
        TFont font = w.form->Font();
        font.Name = "Other";
        w.form->SetFont(font);
        engine.TranslateForm(*w.form);
        EXPECT_EQ(w.form->Font().Name, "MS Sans Serif");
        EXPECT_EQ(w.label3->Caption(), "Visiter");
    }
    {
        LoadedEngine loaded("[-Header-]\nUIFont=\n[TUpdateFrm]\n-Caption-=c");
        Window w = UpdateWindow();
        TFont font = w.form->Font();
        font.Name = "Other";
        w.form->SetFont(font);
        loaded.engine.TranslateForm(*w.form);
        EXPECT_EQ(w.form->Font().Name, "Other"); // empty face: unchanged
        EXPECT_EQ(w.form->Caption(), "c");
    }
}

TEST(TranslateForm, NoFileChosenChangesNothing)
{
    FakeSystem system;
    TLocEngine engine(system);
    Window w = UpdateWindow();
    TFont font = w.form->Font();
    font.Name = "Other";
    w.form->SetFont(font);
    engine.TranslateForm(*w.form);
    EXPECT_EQ(w.form->Font().Name, "Other");
    EXPECT_EQ(w.form->Caption(), "Mise a jour");
}

TEST(TranslateForm, ComponentValues)
{
    LoadedEngine loaded("[-Header-]\nIsUTF8=1\n"
                        "[TUpdateFrm]\n"
                        "Label1=\n"                            // empty: unchanged
                        "Label3=Caf\xC3\xA9 | bar, \"kept\"\n" // decoded, taken whole
                        "Memo=no effect\n"
                        "cancelBt=Fermer\xE9\n" // broken UTF-8: reaches the rule empty
                        "=unnamed\n");
    Window w = UpdateWindow();
    auto* unnamed = new TLabel(w.form.get());
    unnamed->SetCaption("unnamed before");
    loaded.engine.TranslateForm(*w.form);
    EXPECT_EQ(w.label1->Caption(), "Initialisation en cours...");
    EXPECT_EQ(w.label3->Caption(), "Caf\xC3\xA9 | bar, \"kept\"");
    EXPECT_TRUE(w.memo->Lines().empty());
    EXPECT_EQ(w.memo->Caption(), "");
    EXPECT_EQ(w.cancelBt->Caption(), "");
    EXPECT_EQ(unnamed->Caption(), "unnamed before");
}

TEST(TranslateForm, AnOverlongNulEndsAButtonsCommaList)
{
    // "C0 80" decodes to a NUL: the comma list ends there instead of adding empty items
    // without end.
    LoadedEngine loaded("[-Header-]\nIsUTF8=1\n"
                        "[TUpdateFrm]\n"
                        "cancelBt=Cancel,\xC0\x80"
                        "Stop now\n");
    Window w = UpdateWindow();
    w.cancelBt->SetHint("old hint");
    loaded.engine.TranslateForm(*w.form);
    EXPECT_EQ(w.cancelBt->Caption(), "Cancel");
    EXPECT_EQ(w.cancelBt->Hint(), "");
}
