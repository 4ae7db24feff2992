#pragma once
// Visible components: texts, visibility, font and position. A control's parent for
// display is its owner when the owner is a control.

#include "platform/ui/Component.h"

#include <string>

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum TFontCharset : int { ANSI_CHARSET = 0, DEFAULT_CHARSET = 1 };

// Colours as 0x00BBGGRR values; the two system colours the window uses are symbolic.
constexpr int clBlack = 0x000000;
constexpr int clBlue = 0xFF0000;
constexpr int clWindowText = -0x7FFFFFF8; // system colour: text of windows
constexpr int clBtnFace = -0x7FFFFFF1;    // system colour: face of buttons

struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = -11; // negative: character height in pixels at 96 dpi
    int Charset = DEFAULT_CHARSET;
    int Color = clWindowText;
    unsigned Style = 0;
    bool operator==(const TFont&) const = default;
};

enum class TCursor { crDefault, crHandPoint };

class TControl : public TComponent {
public:
    using TComponent::TComponent;
    UPDATER_CLASS_NAME(TControl)

    // Caption and text are one property of a control, as for a native window's text.
    const std::string& Caption() const { return text_; }
    void SetCaption(const std::string& s) { SetTextProp(s, TProperty::Caption); }
    const std::string& Text() const { return text_; }
    void SetText(const std::string& s) { SetTextProp(s, TProperty::Text); }

    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& s);

    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int left, int top, int width, int height);

    const TFont& Font() const { return font_; }
    void SetFont(const TFont& f);
    // Sets the face name; controls that take their font from this one follow.
    void SetFontName(const std::string& name);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool v) { parentFont_ = v; }

    int Color() const { return color_; }
    void SetColor(int c);
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor c);
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int t) { tabOrder_ = t; }

    TNotifyEvent OnClick;
    // Runs the click handler as a user's click does.
    virtual void Click();

protected:
    void SetTextProp(const std::string& s, TProperty what);

private:
    std::string text_;
    std::string hint_;
    bool visible_ = true;
    bool enabled_ = true;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TFont font_;
    bool parentFont_ = true;
    int color_ = clBtnFace;
    TCursor cursor_ = TCursor::crDefault;
    int tabOrder_ = -1;
};
