#pragma once
// A network component: status texts and the begin / progress / end work events of each
// transfer direction, with nested spans. Every network component keeps the process-wide
// socket stack alive while it exists (the anti-freeze is not one of them).

#include "http/IdBaseComponent.h"
#include "http/IdGlobal.h"

#include <cstdint>
#include <functional>
#include <string>

using TIdStatusEvent = std::function<void(TComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
// AWorkCount is the running total of the span, not the increment.
using TWorkEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TComponent* Sender, TWorkMode AWorkMode)>;

struct TIdWorkState {
    std::int64_t Position = 0;
    std::int64_t Maximum = 0;
    int Level = 0; // nesting depth; 0 when no span is open
};

class TIdComponent : public TIdBaseComponent {
public:
    explicit TIdComponent(TComponent* owner, std::string name = {});
    ~TIdComponent() override;
    UPDATER_CLASS_NAME(TIdComponent)

    TIdStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Opens a span; only the outermost one resets the state and reports OnWorkBegin.
    void StartWork(TWorkMode mode, std::int64_t maximum);
    // Inside a span: adds to Position and reports the running total; outside: nothing.
    void AddWork(TWorkMode mode, std::int64_t count);
    // Closes a span; the outermost reports OnWorkEnd. Callers pair it with StartWork on
    // every path, exceptions included.
    void FinishWork(TWorkMode mode);
    const TIdWorkState& WorkState(TWorkMode mode) const { return work_[mode]; }

    // Delivers the status text, with its %s filled with `value`, to OnStatus; formats
    // nothing when no handler is attached.
    void ReportStatus(TIdStatus status, const std::string& value = {});
    // The status text with its placeholder, e.g. "Connecting to %s.".
    static const char* StatusText(TIdStatus status);

private:
    TIdWorkState work_[2];
};
