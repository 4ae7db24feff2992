#pragma once
// The control kinds. Each is a class so that "a component is of a kind" is a dynamic_cast
// and the derivations the relabelling rules depend on hold: TBitBtn is a TButton;
// TCheckBox and TRadioButton are not; TGroupBox and TRadioGroup are separate
// descendants of TCustomGroupBox. They are small enough to share one header.

#include "platform/ui/Control.h"

#include <cstdint>
#include <string>
#include <vector>

using TStrings = std::vector<std::string>;

class TButton : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TButton)
    bool Default = false; // Enter presses it
};

class TBitBtn : public TButton {
public:
    using TButton::TButton;
    UPDATER_CLASS_NAME(TBitBtn)
};

class TSpeedButton : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TSpeedButton)
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TLabel)
};

class TEdit : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TEdit)
};

class TCheckBox : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TCheckBox)
};

class TRadioButton : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TRadioButton)
};

class TTabSheet : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TTabSheet)
};

class TCustomGroupBox : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TCustomGroupBox)
};

class TGroupBox : public TCustomGroupBox {
public:
    using TCustomGroupBox::TCustomGroupBox;
    UPDATER_CLASS_NAME(TGroupBox)
};

// A list with a selection; ItemIndex -1 means no selection.
class TComboBox : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TComboBox)
    const TStrings& Items() const { return items_; }
    void SetItems(TStrings items);
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);

private:
    TStrings items_;
    int itemIndex_ = -1;
};

// A group of radio entries; entry updates can be suspended while several change.
class TRadioGroup : public TCustomGroupBox {
public:
    using TCustomGroupBox::TCustomGroupBox;
    UPDATER_CLASS_NAME(TRadioGroup)
    const TStrings& Items() const { return items_; }
    void SetItems(TStrings items);
    void SetItem(int index, const std::string& text);
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

private:
    TStrings items_;
    int updateCount_ = 0;
};

// Column captions and row captions; sub-item texts are kept per row.
class TListView : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TListView)
    struct Row {
        std::string Caption;
        TStrings SubItems;
    };
    const TStrings& Columns() const { return columns_; }
    void SetColumns(TStrings c);
    void SetColumnCaption(int index, const std::string& text);
    const std::vector<Row>& Rows() const { return rows_; }
    void SetRows(std::vector<Row> rows);
    void SetRowCaption(int index, const std::string& text);
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

private:
    TStrings columns_;
    std::vector<Row> rows_;
    int updateCount_ = 0;
};

// Multi-line text; lines are joined with CR LF when read as one text.
class TMemo : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TMemo)
    const TStrings& Lines() const { return lines_; }
    void AddLine(const std::string& line);
    void SetLines(TStrings lines);
    // The whole text; setting it splits at CR LF, CR or LF.
    std::string LinesText() const;
    void SetLinesText(const std::string& text);
    bool ReadOnly = false;
    bool Border = true;

private:
    TStrings lines_;
};

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    UPDATER_CLASS_NAME(TProgressBar)
    // Positions are 32-bit as in the native bar; callers clamp 64-bit counts.
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMax(int v);
    void SetPosition(int v);

private:
    int min_ = 0, max_ = 100, position_ = 0;
};

// Non-visual kinds.
class TMenuItem : public TComponent {
public:
    using TComponent::TComponent;
    UPDATER_CLASS_NAME(TMenuItem)
    std::string Caption;
};

class TOpenDialog : public TComponent {
public:
    using TComponent::TComponent;
    UPDATER_CLASS_NAME(TOpenDialog)
    std::string Filter;
};

class TSaveDialog : public TOpenDialog {
public:
    using TOpenDialog::TOpenDialog;
    UPDATER_CLASS_NAME(TSaveDialog)
};
