#pragma once
// The main form: created first, so it is the application's main window, and made
// message-only at once, so it is never shown. Closing the update window therefore only
// hides that window; the program ends through the update run's terminate requests.

#include "platform/ui/Form.h"

class TForm85 : public TForm {
public:
    explicit TForm85(TComponent* owner = nullptr) : TForm(owner, "Form85")
    {
        SetCaption("Form85");
        SetBounds(192, 124, 342, 203);
        ClientWidth = 342;
        ClientHeight = 203;
        OnCreate = [this](TComponent* s) { FormCreate(s); };
    }
    UPDATER_CLASS_NAME(TForm85)

    // Makes the window message-only: it takes no part in the screen from now on.
    void FormCreate(TComponent*) { MakeMessageOnly(); }
};
