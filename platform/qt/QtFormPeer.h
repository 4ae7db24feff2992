#pragma once
// The Qt mirror of a form: a top-level window whose client area is the form's client
// area. The window's close button asks the model (TForm::Close), which decides; a
// granted close hides the form in the model and so the window. A message-only form
// keeps a window object for its children but never shows it.

#include "platform/qt/QtControlPeer.h"
#include "platform/ui/forward.h"

namespace platform {

class QtFormPeer : public QtControlPeer {
public:
    QtFormPeer(Application& app, TForm& form);

    void SyncAll() override;

protected:
    void ApplyText() override;
    void ApplyBounds() override;
    void ApplyVisible() override;
    void ApplyFontAndColors() override;

private:
    // Window flags from the border style, border icons and form style. These are plain
    // fields of the form, so they are read again whenever the window is shown.
    void ApplyWindowStyle();
    void ApplyTabOrder();
    QSize ClientSize() const;
    void PlaceOnScreen();

    TForm& form_;
    bool shownOnce_ = false;
};

} // namespace platform
