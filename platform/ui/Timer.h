#pragma once
// A periodic timer component. The backend's peer delivers ticks through Tick(); without
// a peer, tests call Tick() themselves.

#include "platform/ui/Component.h"

class TTimer : public TComponent {
public:
    using TComponent::TComponent;
    UPDATER_CLASS_NAME(TTimer)

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    int Interval() const { return interval_; }
    void SetInterval(int ms);

    TNotifyEvent OnTimer;
    // One tick: runs the handler when the timer is enabled.
    void Tick();

private:
    bool enabled_ = true;
    int interval_ = 1000;
};
