// A language file dropped beside the executable, read by the real update window's creation
// handler: the engine loads it, the catalogue takes its strings, and the window's own
// components plus one of every other kind the relabelling rules know are relabelled. No
// toolkit peers: the component model alone, with an in-memory system and no network.
//
// A language file must never stop the start-up: every input ends here in bounded time and
// memory (window.flags sets the bounds), with every component still consistent.

#include "FuzzSupport.h"

#include "platform/headless/HeadlessApplication.h"
#include "platform/ui/Controls.h"
#include "tests/support/FakeSystem.h"
#include "update/UpdateFrm.h"
#include "update/UpdaterEnvironment.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace {

// The kinds of the relabelling rules that the window itself does not have.
struct ExtraComponents {
    explicit ExtraComponents(TForm& form)
        : bitBtn(new TBitBtn(&form, "BitBtn")), edit(new TEdit(&form, "Edit")), combo(new TComboBox(&form, "Combo")),
          check(new TCheckBox(&form, "Check")), list(new TListView(&form, "List")),
          group(new TGroupBox(&form, "Group")), sheet(new TTabSheet(&form, "Sheet")),
          menu(new TMenuItem(&form, "Menu")), open(new TOpenDialog(&form, "Open")),
          save(new TSaveDialog(&form, "Save")), speed(new TSpeedButton(&form, "Speed")),
          radio(new TRadioButton(&form, "Radio")), radios(new TRadioGroup(&form, "Radios"))
    {
        combo->SetItems({"one", "two", "three"});
        combo->SetItemIndex(2);
        list->SetColumns({"Name", "Size"});
        list->SetRows({{"a", {}}, {"b", {}}});
        radios->SetItems({"x", "y", "z"});
    }

    void Check() const
    {
        FUZZ_CHECK(combo->ItemIndex() >= -1 && combo->ItemIndex() < static_cast<int>(combo->Items().size()));
        FUZZ_CHECK(list->Columns().size() == 2 && list->Rows().size() == 2 && list->UpdateCount() == 0);
        FUZZ_CHECK(radios->Items().size() == 3 && radios->UpdateCount() == 0);
    }

    // Owned by the window.
    TBitBtn* bitBtn;
    TEdit* edit;
    TComboBox* combo;
    TCheckBox* check;
    TListView* list;
    TGroupBox* group;
    TTabSheet* sheet;
    TMenuItem* menu;
    TOpenDialog* open;
    TSaveDialog* save;
    TSpeedButton* speed;
    TRadioButton* radio;
    TRadioGroup* radios;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeSystem sys;
    sys.dirs.insert("/opt/app/Languages");
    sys.files["/opt/app/Languages/french.lng"] = std::string(reinterpret_cast<const char*>(data), size);
    sys.files["/opt/app/update.ini"] = "[Current]\nVersion=1.0\nbuildId=1\nAppName=My App\n";
    platform::HeadlessApplication app;
    const UpdaterEnvironment env{app,
                                 sys,
                                 {"/opt/app/update", "/hidden"},
                                 "http://127.0.0.1/update/",
                                 "http://127.0.0.1/home",
                                 [] {
            return false; }};

    TUpdateFrm form(env);
    const ExtraComponents extra(form);
    try {
        form.DoCreate();
    } catch (const Exception& e) {
        // A language file is never an error of the start-up.
        std::fprintf(stderr, "creation failed: %s\n", e.Message().c_str());
        FUZZ_CHECK(false);
    }

    extra.Check();
    // The creation handler ran to its end (the status line) whatever the file held.
    FUZZ_CHECK(form.Label1->Caption() == form.Catalogue().Entry(CatalogueEntry::Offline));
    FUZZ_CHECK(form.Engine() != nullptr && form.Engine()->IniFile() != nullptr);
    return 0;
}
