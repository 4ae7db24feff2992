#include "platform/qt/QtFormPeer.h"

#include "platform/qt/QtConvert.h"
#include "platform/ui/Application.h"
#include "platform/ui/Form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <functional>
#include <vector>

namespace platform {

namespace {

// The top-level widget of a form. Its close button and the Enter key are routed to the
// model through the peer's callbacks.
class FormWindow : public QWidget {
public:
    std::function<void()> onCloseRequest;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // The model decides: a granted close hides the form, which hides this window.
        event->ignore();
        if (onCloseRequest)
            onCloseRequest();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        // Enter presses the default button, as in a native dialog window; a focused
        // button takes Enter itself before it gets here.
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            for (QPushButton* b : findChildren<QPushButton*>())
                if (b->isDefault() && b->isVisible() && b->isEnabled()) {
                    b->click();
                    return;
                }
        }
        QWidget::keyPressEvent(event);
    }
};

} // namespace

QtFormPeer::QtFormPeer(Application& app, TForm& form) : QtControlPeer(app, form, new FormWindow), form_(form)
{
    static_cast<FormWindow*>(widget_.data())->onCloseRequest = [this] { Guarded([this] { form_.Close(); }); };
    // A form closed in the model is hidden, not destroyed.
    widget_->setAttribute(Qt::WA_DeleteOnClose, false);
}

void QtFormPeer::SyncAll()
{
    if (!widget_)
        return;
    ApplyWindowStyle();
    ApplyTabOrder();
    QtControlPeer::SyncAll();
}

void QtFormPeer::ApplyText() { widget_->setWindowTitle(QString::fromStdString(form_.Caption())); }

QSize QtFormPeer::ClientSize() const
{
    // The client size when the design gives one; otherwise the outer size stands in for
    // it, the frame being the window manager's.
    const int w = form_.ClientWidth > 0 ? form_.ClientWidth : form_.Width();
    const int h = form_.ClientHeight > 0 ? form_.ClientHeight : form_.Height();
    return {std::max(w, 1), std::max(h, 1)};
}

void QtFormPeer::PlaceOnScreen()
{
    const QSize size = ClientSize();
    if (form_.Position == TPosition::poDesigned) {
        widget_->move(form_.Left(), form_.Top());
        return;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    widget_->move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
}

void QtFormPeer::ApplyBounds()
{
    const QSize size = ClientSize();
    if (form_.BorderStyle == TBorderStyle::bsSingle) {
        widget_->setFixedSize(size);
    } else {
        widget_->setMinimumSize(0, 0);
        widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        widget_->resize(size);
    }
    // Centring happens before the first show; afterwards the user's placement stands.
    if (!shownOnce_)
        PlaceOnScreen();
}

void QtFormPeer::ApplyWindowStyle()
{
    Qt::WindowFlags flags = Qt::Window;
    if (form_.BorderStyle == TBorderStyle::bsNone) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        // The minimize and maximize boxes come with the system menu or not at all.
        if (form_.BorderIcons & biSystemMenu) {
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            if (form_.BorderIcons & biMinimize)
                flags |= Qt::WindowMinimizeButtonHint;
            if ((form_.BorderIcons & biMaximize) && form_.BorderStyle == TBorderStyle::bsSizeable)
                flags |= Qt::WindowMaximizeButtonHint;
        }
    }
    if (form_.FormStyle == TFormStyle::fsStayOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    // Setting flags hides a shown window, so only a real change sets them.
    if (widget_->windowFlags() != flags) {
        const bool wasVisible = widget_->isVisible();
        widget_->setWindowFlags(flags);
        if (wasVisible)
            widget_->show();
    }
}

void QtFormPeer::ApplyTabOrder()
{
    std::vector<const TControl*> order;
    for (TComponent* c : form_.Components())
        if (auto* ctl = dynamic_cast<const TControl*>(c);
            ctl && ctl->TabOrder() >= 0 && WidgetOf(ctl) && WidgetOf(ctl)->parentWidget() == widget_)
            order.push_back(ctl);
    std::stable_sort(order.begin(), order.end(),
                     [](const TControl* a, const TControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(WidgetOf(order[i - 1]), WidgetOf(order[i]));
    // The first control in tab order that takes focus has it when the window activates.
    for (const TControl* ctl : order)
        if (QWidget* w = WidgetOf(ctl); w->focusPolicy() & Qt::TabFocus) {
            w->setFocus();
            break;
        }
}

void QtFormPeer::ApplyVisible()
{
    if (form_.MessageOnly || !form_.Visible()) {
        widget_->hide();
        return;
    }
    ApplyWindowStyle();
    if (!shownOnce_)
        PlaceOnScreen();
    shownOnce_ = true;
    widget_->show();
}

void QtFormPeer::ApplyFontAndColors()
{
    QtControlPeer::ApplyFontAndColors();
    QPalette pal = widget_->palette();
    const QColor face = ToQColor(form_.Color(), QApplication::palette(widget_));
    if (face.isValid()) {
        pal.setColor(QPalette::Window, face);
        widget_->setPalette(pal);
        widget_->setAutoFillBackground(true);
    }
}

} // namespace platform
