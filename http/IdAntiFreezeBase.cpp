#include "http/IdAntiFreezeBase.h"

#include "platform/ui/Application.h"

#include <atomic>

namespace {

// Registered and freed by the main thread; read by any thread that waits.
std::atomic<TIdAntiFreezeBase*> gCurrentAntiFreeze{nullptr};

} // namespace

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* owner, platform::Application& application, std::string name)
    : TIdBaseComponent(owner, std::move(name)), application_(application)
{
    gCurrentAntiFreeze = this;
}

TIdAntiFreezeBase::~TIdAntiFreezeBase()
{
    TIdAntiFreezeBase* self = this;
    gCurrentAntiFreeze.compare_exchange_strong(self, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Current() { return gCurrentAntiFreeze.load(); }

bool TIdAntiFreezeBase::ShouldPump()
{
    TIdAntiFreezeBase* af = gCurrentAntiFreeze.load();
    return af && af->Active() && af->application_.IsMainThread();
}

void TIdAntiFreezeBase::PumpIfDue(bool idle, bool override)
{
    if (!ShouldPump())
        return;
    TIdAntiFreezeBase* af = gCurrentAntiFreeze.load();
    if (idle || !af->OnlyWhenIdle() || override)
        af->PumpMessages();
}
