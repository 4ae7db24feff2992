#include "http/IdAntiFreeze.h"

#include "platform/ui/Application.h"

void TIdAntiFreeze::PumpMessages()
{
    if (ApplicationHasPriority())
        Application().ProcessMessages();
    else if (Application().PeekMessage())
        Application().HandleMessage();
}
