#include "platform/qt/QtUiBackend.h"

#include "platform/qt/QtControlPeers.h"
#include "platform/qt/QtFormPeer.h"
#include "platform/qt/QtTimerPeer.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace platform {

namespace {

std::unique_ptr<TComponentPeer> CreatePeer(Application& app, TComponent& c, QWidget* parent)
{
    if (auto* x = dynamic_cast<TForm*>(&c))
        return std::make_unique<QtFormPeer>(app, *x);
    if (auto* x = dynamic_cast<TTimer*>(&c))
        return std::make_unique<QtTimerPeer>(app, *x);
    if (auto* x = dynamic_cast<TButton*>(&c))
        return std::make_unique<QtButtonPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TSpeedButton*>(&c))
        return std::make_unique<QtSpeedButtonPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TLabel*>(&c))
        return std::make_unique<QtLabelPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TMemo*>(&c))
        return std::make_unique<QtMemoPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TProgressBar*>(&c))
        return std::make_unique<QtProgressBarPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TEdit*>(&c))
        return std::make_unique<QtEditPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TCheckBox*>(&c))
        return std::make_unique<QtCheckBoxPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TRadioButton*>(&c))
        return std::make_unique<QtRadioButtonPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TComboBox*>(&c))
        return std::make_unique<QtComboBoxPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TCustomGroupBox*>(&c))
        return std::make_unique<QtGroupBoxPeer>(app, *x, parent);
    if (auto* x = dynamic_cast<TListView*>(&c))
        return std::make_unique<QtListViewPeer>(app, *x, parent);
    // Tab sheets and any other control: a plain widget holding its children.
    if (auto* x = dynamic_cast<TControl*>(&c))
        return std::make_unique<QtControlPeer>(app, *x, new QWidget(parent));
    return nullptr;
}

// Creates the missing peers of the tree; `fresh` collects them children first, the order in
// which they are synced, so that a window is shown only once its controls are in place.
void Attach(Application& app, TComponent& c, QWidget* parent, std::vector<TComponent*>& fresh)
{
    bool created = false;
    if (!c.Peer()) {
        if (auto peer = CreatePeer(app, c, parent)) {
            c.SetPeer(std::move(peer));
            created = true;
        }
    }
    QWidget* own = QtControlPeer::WidgetOf(&c);
    for (TComponent* child : c.Components())
        Attach(app, *child, own ? own : parent, fresh);
    if (created)
        fresh.push_back(&c);
}

} // namespace

void QtUiBackend::AttachPeers(TForm& form)
{
    std::vector<TComponent*> fresh;
    Attach(app_, form, nullptr, fresh);
    for (TComponent* c : fresh) {
        if (auto* p = dynamic_cast<QtControlPeer*>(c->Peer()))
            p->SyncAll();
        else if (auto* t = dynamic_cast<QtTimerPeer*>(c->Peer()))
            t->SyncAll();
    }
}

} // namespace platform
