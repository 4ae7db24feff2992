#include "platform/ui/Timer.h"

void TTimer::SetEnabled(bool v)
{
    if (enabled_ == v)
        return;
    enabled_ = v;
    Changed(TProperty::Enabled);
}

void TTimer::SetInterval(int ms)
{
    interval_ = ms;
    Changed(TProperty::Interval);
}

void TTimer::Tick()
{
    if (enabled_ && OnTimer)
        OnTimer(this);
}
