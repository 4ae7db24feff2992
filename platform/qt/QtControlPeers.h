#pragma once
// The Qt mirrors of the control kinds, one widget each. They are small enough to share
// one header, as the kinds themselves do.

#include "platform/qt/QtControlPeer.h"
#include "platform/ui/forward.h"

namespace platform {

// QLabel showing the caption as plain text. A label is as large as its design and grows
// to fit its text, as an auto-sized native label does, so a longer status text is never
// cut. A press of the left mouse button clicks it.
class QtLabelPeer : public QtControlPeer {
public:
    QtLabelPeer(Application& app, TLabel& label, QWidget* parent);

protected:
    void ApplyText() override;
    void ApplyBounds() override;
    void ApplyFontAndColors() override;
};

// QPushButton; Default makes it the button that Enter presses.
class QtButtonPeer : public QtControlPeer {
public:
    QtButtonPeer(Application& app, TButton& button, QWidget* parent);
    void SyncAll() override;

protected:
    void ApplyText() override;

private:
    TButton& button_;
};

// QToolButton.
class QtSpeedButtonPeer : public QtControlPeer {
public:
    QtSpeedButtonPeer(Application& app, TSpeedButton& button, QWidget* parent);

protected:
    void ApplyText() override;
};

// Read-only or editable multi-line text. Without a border it has no frame, and its
// background is the control's colour (the window face for clBtnFace).
class QtMemoPeer : public QtControlPeer {
public:
    QtMemoPeer(Application& app, TMemo& memo, QWidget* parent);
    void SyncAll() override;

protected:
    void Apply(TProperty what) override;
    void ApplyFontAndColors() override;

private:
    TMemo& memo_;
};

// QProgressBar over 0..Max. A position beyond the range shows a full (or empty) bar: it
// is clamped for display only. A maximum of 0 or less (a transfer of unknown length)
// shows Qt's busy indicator.
class QtProgressBarPeer : public QtControlPeer {
public:
    QtProgressBarPeer(Application& app, TProgressBar& bar, QWidget* parent);

protected:
    void Apply(TProperty what) override;

private:
    TProgressBar& bar_;
};

// QLineEdit; what the user types goes back into the model's text.
class QtEditPeer : public QtControlPeer {
public:
    QtEditPeer(Application& app, TEdit& edit, QWidget* parent);

protected:
    void ApplyText() override;
};

class QtCheckBoxPeer : public QtControlPeer {
public:
    QtCheckBoxPeer(Application& app, TCheckBox& box, QWidget* parent);

protected:
    void ApplyText() override;
};

class QtRadioButtonPeer : public QtControlPeer {
public:
    QtRadioButtonPeer(Application& app, TRadioButton& button, QWidget* parent);

protected:
    void ApplyText() override;
};

// QComboBox; the user's choice goes back into the model's ItemIndex.
class QtComboBoxPeer : public QtControlPeer {
public:
    QtComboBoxPeer(Application& app, TComboBox& box, QWidget* parent);

protected:
    void Apply(TProperty what) override;

private:
    TComboBox& box_;
};

// QGroupBox with the caption as title; a radio group adds one radio button per item.
class QtGroupBoxPeer : public QtControlPeer {
public:
    QtGroupBoxPeer(Application& app, TCustomGroupBox& box, QWidget* parent);

protected:
    void Apply(TProperty what) override;
    void ApplyText() override;

private:
    void ApplyItems();
    TRadioGroup* radioGroup_;
};

// QTreeWidget without a tree: columns as headers, rows with their sub-items.
class QtListViewPeer : public QtControlPeer {
public:
    QtListViewPeer(Application& app, TListView& view, QWidget* parent);

protected:
    void Apply(TProperty what) override;

private:
    TListView& view_;
};

} // namespace platform
