#include "platform/ui/Application.h"

#include "platform/runtime/Exception.h"

namespace platform {

void Application::Guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Exception& e) {
        ShowException(e.Message());
    } catch (const std::exception& e) {
        ShowException(e.what());
    }
}

bool Application::WaitSocketOrMessage(std::intptr_t, int) { return false; }

} // namespace platform
