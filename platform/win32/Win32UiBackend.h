#pragma once
// Win32 peers for the component model: a form is a top-level window (message-only when the
// form says so), labels are static controls (a hand cursor where the label asks for one),
// the memo a read-only multi-line edit, the progress bar the common control, buttons push
// buttons, and a timer a SetTimer on a message-only window. Every handler the system calls
// (click, close request, timer tick) runs inside the application's Guard.

#include "platform/ui/UiBackend.h"
#include "platform/ui/forward.h"

namespace platform {

class Win32UiBackend : public UiBackend {
public:
    explicit Win32UiBackend(Application& app) : app_(app) {}
    void AttachPeers(TForm& form) override;

    // The native window of a control with a Win32 peer; null otherwise.
    static void* WindowOf(const TComponent* component);

private:
    Application& app_;
};

} // namespace platform
