#include "platform/qt/QtTimerPeer.h"

#include "platform/ui/Application.h"
#include "platform/ui/Timer.h"

#include <QTimer>

namespace platform {

QtTimerPeer::QtTimerPeer(Application& app, TTimer& timer)
    : app_(app), timer_(timer), qtimer_(std::make_unique<QTimer>())
{
    qtimer_->setObjectName(QString::fromStdString(timer.Name()));
    QObject::connect(qtimer_.get(), &QTimer::timeout, qtimer_.get(), [this] {
        if (ticking_)
            return;
        ticking_ = true;
        app_.Guard([this] { timer_.Tick(); });
        ticking_ = false;
    });
}

QtTimerPeer::~QtTimerPeer() = default;

void QtTimerPeer::Changed(TComponent&, TProperty what)
{
    if (what == TProperty::Enabled || what == TProperty::Interval)
        SyncAll();
}

void QtTimerPeer::SyncAll()
{
    if (timer_.Enabled() && timer_.Interval() > 0)
        qtimer_->start(timer_.Interval());
    else
        qtimer_->stop();
}

} // namespace platform
