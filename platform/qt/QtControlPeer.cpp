#include "platform/qt/QtControlPeer.h"

#include "platform/qt/QtConvert.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"

#include <QApplication>

namespace platform {

QtControlPeer::QtControlPeer(Application& app, TControl& control, QWidget* widget)
    : app_(app), control_(control), widget_(widget)
{
    widget_->setObjectName(QString::fromStdString(control.Name()));
}

QtControlPeer::~QtControlPeer() { delete widget_.data(); }

QWidget* QtControlPeer::WidgetOf(const TComponent* component)
{
    if (!component)
        return nullptr;
    auto* peer = dynamic_cast<QtControlPeer*>(component->Peer());
    return peer ? peer->Widget() : nullptr;
}

void QtControlPeer::Changed(TComponent&, TProperty what)
{
    if (widget_)
        Apply(what);
}

void QtControlPeer::SyncAll()
{
    if (!widget_)
        return;
    // Text and font before bounds (a label widens to its text), visibility last.
    for (TProperty p : {TProperty::Caption, TProperty::Hint, TProperty::Enabled, TProperty::Font, TProperty::Cursor,
                        TProperty::Items, TProperty::ItemIndex, TProperty::Lines, TProperty::Range, TProperty::Columns,
                        TProperty::Rows, TProperty::Filter, TProperty::Other, TProperty::Bounds, TProperty::Visible})
        Apply(p);
}

void QtControlPeer::Apply(TProperty what)
{
    switch (what) {
    case TProperty::Caption:
    case TProperty::Text:
        ApplyText();
        break;
    case TProperty::Hint:
        widget_->setToolTip(ToQText(control_.Hint()));
        break;
    case TProperty::Visible:
        ApplyVisible();
        break;
    case TProperty::Enabled:
        widget_->setEnabled(control_.Enabled());
        break;
    case TProperty::Bounds:
        ApplyBounds();
        break;
    case TProperty::Font:
    case TProperty::Color:
        ApplyFontAndColors();
        break;
    case TProperty::Cursor:
        if (control_.Cursor() == TCursor::crHandPoint)
            widget_->setCursor(Qt::PointingHandCursor);
        else
            widget_->unsetCursor();
        break;
    default:
        break;
    }
}

void QtControlPeer::ApplyText()
{
    // A plain widget has no text of its own; its title carries the caption for lookups.
    widget_->setWindowTitle(ToQText(control_.Caption()));
}

void QtControlPeer::ApplyBounds()
{
    widget_->setGeometry(control_.Left(), control_.Top(), control_.Width(), control_.Height());
}

void QtControlPeer::ApplyVisible() { widget_->setVisible(control_.Visible()); }

void QtControlPeer::ApplyFontAndColors()
{
    widget_->setFont(ToQFont(control_.Font(), QApplication::font(widget_)));
    QPalette pal = QApplication::palette(widget_);
    const QColor text = ToQColor(control_.Font().Color, pal);
    if (text.isValid())
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            pal.setColor(role, text);
    widget_->setPalette(pal);
}

void QtControlPeer::Guarded(const std::function<void()>& handler) { app_.Guard(handler); }

} // namespace platform
