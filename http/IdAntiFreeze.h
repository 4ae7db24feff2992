#pragma once
// The anti-freeze that pumps through the application's own message processing.

#include "http/IdAntiFreezeBase.h"

class TIdAntiFreeze : public TIdAntiFreezeBase {
public:
    using TIdAntiFreezeBase::TIdAntiFreezeBase;
    UPDATER_CLASS_NAME(TIdAntiFreeze)

    // With ApplicationHasPriority every waiting message is processed; without it, one
    // message is handled when one is waiting.
    void PumpMessages() override;
};
