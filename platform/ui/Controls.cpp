#include "platform/ui/Controls.h"

void TComboBox::SetItems(TStrings items)
{
    items_ = std::move(items);
    if (itemIndex_ >= static_cast<int>(items_.size()))
        itemIndex_ = -1;
    Changed(TProperty::Items);
}

void TComboBox::SetItemIndex(int index)
{
    itemIndex_ = (index < -1 || index >= static_cast<int>(items_.size())) ? -1 : index;
    Changed(TProperty::ItemIndex);
}

void TRadioGroup::SetItems(TStrings items)
{
    items_ = std::move(items);
    if (updateCount_ == 0)
        Changed(TProperty::Items);
}

void TRadioGroup::SetItem(int index, const std::string& text)
{
    if (index < 0 || index >= static_cast<int>(items_.size()))
        return;
    items_[static_cast<size_t>(index)] = text;
    if (updateCount_ == 0)
        Changed(TProperty::Items);
}

void TRadioGroup::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0)
        Changed(TProperty::Items);
}

void TListView::SetColumns(TStrings c)
{
    columns_ = std::move(c);
    if (updateCount_ == 0)
        Changed(TProperty::Columns);
}

void TListView::SetColumnCaption(int index, const std::string& text)
{
    if (index < 0 || index >= static_cast<int>(columns_.size()))
        return;
    columns_[static_cast<size_t>(index)] = text;
    if (updateCount_ == 0)
        Changed(TProperty::Columns);
}

void TListView::SetRows(std::vector<Row> rows)
{
    rows_ = std::move(rows);
    if (updateCount_ == 0)
        Changed(TProperty::Rows);
}

void TListView::SetRowCaption(int index, const std::string& text)
{
    if (index < 0 || index >= static_cast<int>(rows_.size()))
        return;
    rows_[static_cast<size_t>(index)].Caption = text;
    if (updateCount_ == 0)
        Changed(TProperty::Rows);
}

void TListView::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0) {
        Changed(TProperty::Columns);
        Changed(TProperty::Rows);
    }
}

void TMemo::AddLine(const std::string& line)
{
    lines_.push_back(line);
    Changed(TProperty::Lines);
}

void TMemo::SetLines(TStrings lines)
{
    lines_ = std::move(lines);
    Changed(TProperty::Lines);
}

std::string TMemo::LinesText() const
{
    std::string r;
    for (const auto& l : lines_) {
        r += l;
        r += "\r\n";
    }
    return r;
}

void TMemo::SetLinesText(const std::string& text)
{
    TStrings lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    SetLines(std::move(lines));
}

void TProgressBar::SetMax(int v)
{
    max_ = v;
    Changed(TProperty::Range);
}

void TProgressBar::SetPosition(int v)
{
    position_ = v;
    Changed(TProperty::Position);
}
