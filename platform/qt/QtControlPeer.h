#pragma once
// The Qt mirror of one control: owns one widget and copies the control's state into it.
// Kinds with their own widget derive from this and handle the properties they add.
//
// Lifetime: the peer owns its widget and deletes it when it is destroyed, so neither
// outlives the other. The model destroys child components (and so their peers) before
// the parent's peer, so a child widget is always deleted before its parent widget; the
// QPointer covers a widget that Qt deleted first. A component must not be destroyed from
// inside one of its own widget's handlers (its click, close or tick): that would delete
// the widget while Qt is still delivering to it.

#include "platform/ui/Component.h"
#include "platform/ui/forward.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace platform {

class QtControlPeer : public TComponentPeer {
public:
    // Takes `widget` over; it is already parented (or a top-level window).
    QtControlPeer(Application& app, TControl& control, QWidget* widget);
    ~QtControlPeer() override;
    QtControlPeer(const QtControlPeer&) = delete;
    QtControlPeer& operator=(const QtControlPeer&) = delete;

    QWidget* Widget() const { return widget_; }
    // The widget of a component that has a Qt control peer, or null.
    static QWidget* WidgetOf(const TComponent* component);

    void Changed(TComponent& component, TProperty what) override;
    // Copies every property into the widget; run once when the peer is attached.
    virtual void SyncAll();

protected:
    // Copies one property. Kinds handle what they add and pass the rest on here.
    virtual void Apply(TProperty what);
    virtual void ApplyText();
    virtual void ApplyBounds();
    virtual void ApplyVisible();
    // Font and colours both end in the widget's palette, so they are set together.
    virtual void ApplyFontAndColors();

    // Runs a handler for a Qt callback inside the application's one boundary, so that no
    // exception crosses a Qt frame.
    void Guarded(const std::function<void()>& handler);

    Application& app_;
    // Valid while the peer lives (the component destroys its peer before its memory goes;
    // by then only the TComponent part is left, so the destructor does not touch it).
    TControl& control_;
    QPointer<QWidget> widget_;
};

} // namespace platform
