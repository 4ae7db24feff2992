#pragma once
// Attaches a backend's peers to a form and all the components it owns, so that the
// model's state shows in real widgets and the widgets' events reach the model.

#include "platform/ui/forward.h"

namespace platform {

class UiBackend {
public:
    virtual ~UiBackend() = default;
    virtual void AttachPeers(TForm& form) = 0;
};

} // namespace platform
