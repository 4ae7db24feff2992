#include "http/IdComponent.h"

#include "http/IdStack.h"

TIdComponent::TIdComponent(TComponent* owner, std::string name) : TIdBaseComponent(owner, std::move(name))
{
    TIdStack::Acquire();
}

TIdComponent::~TIdComponent() { TIdStack::Release(); }

void TIdComponent::StartWork(TWorkMode mode, std::int64_t maximum)
{
    TIdWorkState& w = work_[mode];
    if (++w.Level == 1) {
        w.Maximum = maximum;
        w.Position = 0;
        if (OnWorkBegin)
            OnWorkBegin(this, mode, maximum);
    }
}

void TIdComponent::AddWork(TWorkMode mode, std::int64_t count)
{
    TIdWorkState& w = work_[mode];
    if (w.Level <= 0)
        return;
    w.Position += count;
    if (OnWork)
        OnWork(this, mode, w.Position);
}

void TIdComponent::FinishWork(TWorkMode mode)
{
    TIdWorkState& w = work_[mode];
    if (w.Level <= 0)
        return; // an unpaired finish must not push the depth below zero
    struct Decrement {
        int& level;
        ~Decrement() { --level; }
    } decrement{w.Level};
    if (w.Level == 1 && OnWorkEnd)
        OnWorkEnd(this, mode);
}

const char* TIdComponent::StatusText(TIdStatus status)
{
    switch (status) {
    case hsResolving:
        return "Resolving hostname %s.";
    case hsConnecting:
        return "Connecting to %s.";
    case hsConnected:
        return "Connected.";
    case hsDisconnecting:
        return "Disconnecting.";
    case hsDisconnected:
        return "Disconnected.";
    case hsStatusText:
        return "%s";
    case ftpTransfer:
    case ftpReady:
    case ftpAborted:
        break;
    }
    return "";
}

void TIdComponent::ReportStatus(TIdStatus status, const std::string& value)
{
    if (!OnStatus)
        return;
    std::string text = StatusText(status);
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, value);
    OnStatus(this, status, text);
}
