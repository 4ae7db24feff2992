#pragma once
// The anti-freeze: while it is active and the caller is the main thread, the waits of the
// connection layer are cut into slices of IdleTimeOut milliseconds and the application's
// messages are processed between them, so that a window stays responsive (and its
// handlers run re-entrantly) during a blocking network call.
//
// Creating an anti-freeze registers it as the current one, replacing any earlier one;
// freeing the current one leaves none registered.

#include "http/IdBaseComponent.h"
#include "platform/ui/forward.h"

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // The application is borrowed: it pumps the messages and tells the main thread; it
    // must outlive the anti-freeze.
    TIdAntiFreezeBase(TComponent* owner, platform::Application& application, std::string name = {});
    ~TIdAntiFreezeBase() override;
    UPDATER_CLASS_NAME(TIdAntiFreezeBase)

    bool Active() const { return active_; }
    void SetActive(bool v) { active_ = v; }
    // A pump processes every pending message rather than one.
    bool ApplicationHasPriority() const { return applicationHasPriority_; }
    void SetApplicationHasPriority(bool v) { applicationHasPriority_ = v; }
    // The slice length of waits, in milliseconds.
    int IdleTimeOut() const { return idleTimeOut_; }
    void SetIdleTimeOut(int ms) { idleTimeOut_ = ms; }
    // Pump only after a wait that found nothing.
    bool OnlyWhenIdle() const { return onlyWhenIdle_; }
    void SetOnlyWhenIdle(bool v) { onlyWhenIdle_ = v; }

    platform::Application& Application() const { return application_; }

    // Processes the application's messages once.
    virtual void PumpMessages() = 0;

    // The registered anti-freeze, or null.
    static TIdAntiFreezeBase* Current();
    // An anti-freeze is registered and active, and the caller is on the main thread.
    static bool ShouldPump();
    // Pumps when ShouldPump holds and (idle, or not OnlyWhenIdle, or override).
    static void PumpIfDue(bool idle, bool override = false);

private:
    platform::Application& application_;
    bool active_ = true;
    bool applicationHasPriority_ = true;
    int idleTimeOut_ = 250;
    bool onlyWhenIdle_ = true;
};
