#pragma once
// Attaches Qt peers to a form and to everything it owns, recursively: the form becomes a
// top-level window, each control a child widget of the widget of its owner (or of the
// nearest owning control), each TTimer a QTimer. Components without a Qt counterpart
// (the HTTP client, menu items, dialogs) get no peer. Attaching again only adds peers to
// components that have none yet, so components created later can be attached too.

#include "platform/ui/UiBackend.h"
#include "platform/ui/forward.h"

namespace platform {

class QtUiBackend : public UiBackend {
public:
    // `app` receives every callback from Qt (through Application::Guard); it must outlive
    // the peers attached here.
    explicit QtUiBackend(Application& app) : app_(app) {}

    void AttachPeers(TForm& form) override;

private:
    Application& app_;
};

} // namespace platform
