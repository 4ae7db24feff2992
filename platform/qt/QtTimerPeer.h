#pragma once
// The Qt mirror of a TTimer: a QTimer that runs while the timer is enabled with a positive
// interval and delivers each tick through TTimer::Tick inside the application's boundary.
// Changing Enabled or Interval restarts the count, as the native timer does. A tick is
// never delivered while the previous one is still running (its handler may pump
// messages for a long time); Qt does not re-enter a timer either, this just makes sure.

#include "platform/ui/Component.h"
#include "platform/ui/forward.h"

#include <memory>

class QTimer;

namespace platform {

class QtTimerPeer : public TComponentPeer {
public:
    QtTimerPeer(Application& app, TTimer& timer);
    ~QtTimerPeer() override;

    void Changed(TComponent& component, TProperty what) override;
    void SyncAll();
    QTimer* Timer() const { return qtimer_.get(); }

private:
    Application& app_;
    TTimer& timer_;
    std::unique_ptr<QTimer> qtimer_;
    bool ticking_ = false;
};

} // namespace platform
