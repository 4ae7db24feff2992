#include "platform/ui/Control.h"

void TControl::SetTextProp(const std::string& s, TProperty what)
{
    if (text_ == s)
        return;
    text_ = s;
    Changed(what);
}

void TControl::SetHint(const std::string& s)
{
    if (hint_ == s)
        return;
    hint_ = s;
    Changed(TProperty::Hint);
}

void TControl::SetVisible(bool v)
{
    if (visible_ == v)
        return;
    visible_ = v;
    Changed(TProperty::Visible);
}

void TControl::SetEnabled(bool v)
{
    if (enabled_ == v)
        return;
    enabled_ = v;
    Changed(TProperty::Enabled);
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Changed(TProperty::Bounds);
}

void TControl::SetFont(const TFont& f)
{
    font_ = f;
    Changed(TProperty::Font);
    for (TComponent* c : Components())
        if (auto* ctl = dynamic_cast<TControl*>(c); ctl && ctl->ParentFont()) {
            ctl->SetFont(f);
            ctl->SetParentFont(true);
        }
}

void TControl::SetFontName(const std::string& name)
{
    TFont f = font_;
    f.Name = name;
    SetFont(f);
}

void TControl::SetColor(int c)
{
    color_ = c;
    Changed(TProperty::Color);
}

void TControl::SetCursor(TCursor c)
{
    cursor_ = c;
    Changed(TProperty::Cursor);
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}
