#pragma once
// A top-level window. Creating a form builds its components; the backend then attaches
// peers and DoCreate runs the creation handler, as creating a native window runs its
// creation event. Close() passes through the close-request handler and, when granted,
// hides the form: no form ends the program by itself.

#include "platform/ui/Control.h"

#include <functional>

using TCloseQueryEvent = std::function<void(TComponent* Sender, bool& CanClose)>;

enum class TBorderStyle { bsSizeable, bsSingle, bsNone };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
enum class TPosition { poDesigned, poDesktopCenter, poScreenCenter };
enum class TFormStyle { fsNormal, fsStayOnTop };

class TForm : public TControl {
public:
    explicit TForm(TComponent* owner, std::string name = {});
    UPDATER_CLASS_NAME(TForm)

    TBorderStyle BorderStyle = TBorderStyle::bsSizeable;
    unsigned BorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition Position = TPosition::poDesigned;
    TFormStyle FormStyle = TFormStyle::fsNormal;
    int ClientWidth = 0;
    int ClientHeight = 0;
    // A message-only form is never shown on screen. Set it before the peers are attached,
    // or through MakeMessageOnly, which the peer applies at once.
    bool MessageOnly = false;
    // Makes the form message-only now, whether or not it is ever shown: its window leaves
    // the screen's window list at once (it can no longer be found as a top-level window
    // nor receive broadcasts).
    void MakeMessageOnly()
    {
        MessageOnly = true;
        Changed(TProperty::Other);
    }

    TNotifyEvent OnCreate;
    TCloseQueryEvent OnCloseQuery;

    // Runs the creation handler; called once by whoever creates the form.
    void DoCreate();
    // Asks the close-request handler; true when the close is granted.
    bool CloseQuery();
    // The ordinary close: ask, and hide the form when granted.
    void Close();
};
