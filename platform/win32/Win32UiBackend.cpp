#include "platform/win32/Win32UiBackend.h"

#include "platform/ui/Application.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"
#include "platform/win32/WindowsHeaders.h"

#include <map>
#include <memory>

namespace platform {

namespace {

COLORREF ColorOf(int color)
{
    // System colours carry the index of the system colour in their low byte.
    if (color < 0)
        return ::GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color);
}

// Positions, sizes and font heights of the model are pixels at 96 dots per inch, the
// scale the window was designed at; on screen they follow the DPI of the window's display.
constexpr int kDesignDpi = 96;

int WindowDpi(HWND h)
{
    // GetDpiForWindow (Windows 10 1607 and later) knows the window's own display; before
    // it, the system DPI is what a DPI-aware program draws at.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && h)
        if (const UINT dpi = getDpiForWindow(h); dpi > 0)
            return static_cast<int>(dpi);
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesignDpi;
}

int Scaled(int designPixels, int dpi) { return ::MulDiv(designPixels, dpi, kDesignDpi); }

// The peer of a visible control: one native window, updated on every change.
class ControlPeer : public TComponentPeer {
public:
    ControlPeer(Application& app, TControl& control) : app_(app), control_(control) {}
    ~ControlPeer() override
    {
        if (hwnd_) {
            ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
            ::DestroyWindow(hwnd_);
        }
        if (font_)
            ::DeleteObject(font_);
    }

    HWND Window() const { return hwnd_; }
    TControl& Control() const { return control_; }
    Application& App() const { return app_; }

    static ControlPeer* Of(HWND h)
    {
        return h ? reinterpret_cast<ControlPeer*>(::GetWindowLongPtrA(h, GWLP_USERDATA)) : nullptr;
    }

    void Changed(TComponent&, TProperty what) override
    {
        if (!hwnd_)
            return;
        switch (what) {
        case TProperty::Caption:
        case TProperty::Text:
            ApplyText();
            break;
        case TProperty::Visible:
            ApplyVisible();
            break;
        case TProperty::Enabled:
            ::EnableWindow(hwnd_, control_.Enabled());
            break;
        case TProperty::Bounds:
            ApplyBounds();
            break;
        case TProperty::Font:
        case TProperty::Color:
            ApplyFont();
            break;
        default:
            ApplyOther(what);
            break;
        }
    }

    // Lays the control out again at its display's DPI (after a move to another display).
    void Rescale()
    {
        ApplyFont();
        ApplyBounds();
    }

    virtual void SyncAll()
    {
        ApplyFont();
        ApplyText();
        ApplyBounds();
        ::EnableWindow(hwnd_, control_.Enabled());
        ApplyOther(TProperty::Other);
        ApplyVisible();
    }

protected:
    void Attach(HWND h)
    {
        hwnd_ = h;
        ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    virtual void ApplyText() { ::SetWindowTextA(hwnd_, control_.Caption().c_str()); }
    virtual void ApplyVisible() { ::ShowWindow(hwnd_, control_.Visible() ? SW_SHOWNA : SW_HIDE); }
    virtual void ApplyBounds()
    {
        const int dpi = WindowDpi(hwnd_);
        ::MoveWindow(hwnd_, Scaled(control_.Left(), dpi), Scaled(control_.Top(), dpi), Scaled(control_.Width(), dpi),
                     Scaled(control_.Height(), dpi), TRUE);
    }
    virtual void ApplyOther(TProperty) {}
    // The face, height and style of the control's font (its owner's when it takes that).
    void ApplyFont()
    {
        const TFont& f = EffectiveFont();
        HFONT font =
            ::CreateFontA(Scaled(f.Height, WindowDpi(hwnd_)), 0, 0, 0, (f.Style & fsBold) ? FW_BOLD : FW_NORMAL,
                          (f.Style & fsItalic) != 0, (f.Style & fsUnderline) != 0, (f.Style & fsStrikeOut) != 0,
                          static_cast<DWORD>(f.Charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH, f.Name.c_str());
        ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        if (font_)
            ::DeleteObject(font_);
        font_ = font;
    }

public:
    const TFont& EffectiveFont() const
    {
        const TControl* c = &control_;
        while (c->ParentFont())
            if (auto* owner = dynamic_cast<const TControl*>(c->Owner()))
                c = owner;
            else
                break;
        return c->Font();
    }

private:
    Application& app_;
    TControl& control_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
};

LRESULT CALLBACK FormProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

class FormPeer : public ControlPeer {
public:
    FormPeer(Application& app, TForm& form) : ControlPeer(app, form), form_(form)
    {
        const std::string cls = RegisterClassFor(form);
        // A form that is message-only already is created so, never as a top-level window.
        messageOnly_ = form.MessageOnly;
        Attach(::CreateWindowExA(0, cls.c_str(), "", Style(), CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                                 messageOnly_ ? HWND_MESSAGE : nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr));
        background_ = ::CreateSolidBrush(ColorOf(form.Color()));
    }
    ~FormPeer() override { ::DeleteObject(background_); }

    HBRUSH Background() const { return background_; }

    // The window moved to a display of another DPI: the form and its controls again.
    void RescaleAll()
    {
        Rescale();
        for (TComponent* c : form_.Components())
            if (auto* p = dynamic_cast<ControlPeer*>(c->Peer()))
                p->Rescale();
    }

    void SyncAll() override
    {
        ApplyMessageOnly();
        ControlPeer::SyncAll();
    }

protected:
    void ApplyVisible() override
    {
        ApplyMessageOnly();
        if (messageOnly_)
            return; // never on screen
        if (form_.Visible()) {
            ::ShowWindow(Window(), SW_SHOW);
            ::UpdateWindow(Window());
        } else {
            ::ShowWindow(Window(), SW_HIDE);
        }
    }

    // A form made message-only after its window was created (the main form's creation
    // handler) leaves the screen at once, whether it is ever shown or not.
    void ApplyOther(TProperty) override { ApplyMessageOnly(); }

    void ApplyBounds() override
    {
        const int dpi = WindowDpi(Window());
        RECT r{0, 0, Scaled(form_.ClientWidth > 0 ? form_.ClientWidth : form_.Width(), dpi),
               Scaled(form_.ClientHeight > 0 ? form_.ClientHeight : form_.Height(), dpi)};
        ::AdjustWindowRectEx(&r, Style(), FALSE, 0);
        const int w = r.right - r.left;
        const int hgt = r.bottom - r.top;
        int x = Scaled(form_.Left(), dpi);
        int y = Scaled(form_.Top(), dpi);
        if (form_.Position != TPosition::poDesigned) {
            RECT work{};
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
            x = work.left + (work.right - work.left - w) / 2;
            y = work.top + (work.bottom - work.top - hgt) / 2;
        }
        ::SetWindowPos(Window(), nullptr, x, y, w, hgt, SWP_NOZORDER | SWP_NOACTIVATE);
    }

private:
    DWORD Style() const
    {
        DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
        if (form_.BorderIcons & biSystemMenu) {
            style |= WS_SYSMENU;
            if (form_.BorderIcons & biMinimize)
                style |= WS_MINIMIZEBOX;
        }
        if (form_.BorderStyle == TBorderStyle::bsSizeable) {
            style |= WS_THICKFRAME;
            if (form_.BorderIcons & biMaximize)
                style |= WS_MAXIMIZEBOX;
        }
        return style;
    }

    // The message-only main form: reparented under HWND_MESSAGE, failures ignored.
    void ApplyMessageOnly()
    {
        if (form_.MessageOnly && !messageOnly_) {
            ::SetParent(Window(), HWND_MESSAGE);
            messageOnly_ = true;
        }
    }

    // One window class per form class, named after it.
    static std::string RegisterClassFor(const TForm& form)
    {
        std::string name(form.ClassName());
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        if (::GetClassInfoExA(::GetModuleHandleA(nullptr), name.c_str(), &wc))
            return name;
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = FormProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
        wc.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
        wc.lpszClassName = name.c_str();
        ::RegisterClassExA(&wc);
        return name;
    }

    TForm& form_;
    HBRUSH background_;
    bool messageOnly_ = false;
};

HWND ParentWindow(TControl& c)
{
    if (auto* owner = dynamic_cast<ControlPeer*>(c.Owner() ? c.Owner()->Peer() : nullptr))
        return owner->Window();
    return nullptr;
}

class ChildPeer : public ControlPeer {
public:
    ChildPeer(Application& app, TControl& c, const char* cls, DWORD style, DWORD exStyle = 0) : ControlPeer(app, c)
    {
        Attach(::CreateWindowExA(exStyle, cls, "", WS_CHILD | style, 0, 0, 0, 0, ParentWindow(c), nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr));
    }
};

class MemoPeer : public ChildPeer {
public:
    MemoPeer(Application& app, TMemo& memo)
        : ChildPeer(app, memo, "EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, WS_EX_CLIENTEDGE),
          memo_(memo)
    {
    }

protected:
    void ApplyText() override { ::SetWindowTextA(Window(), memo_.LinesText().c_str()); }
    void ApplyOther(TProperty what) override
    {
        if (what == TProperty::Lines || what == TProperty::Other)
            ApplyText();
    }

private:
    TMemo& memo_;
};

class ProgressBarPeer : public ChildPeer {
public:
    ProgressBarPeer(Application& app, TProgressBar& bar) : ChildPeer(app, bar, PROGRESS_CLASSA, 0), bar_(bar) {}

protected:
    void ApplyText() override {}
    void ApplyOther(TProperty) override
    {
        ::SendMessageA(Window(), PBM_SETRANGE32, static_cast<WPARAM>(bar_.Min()), static_cast<LPARAM>(bar_.Max()));
        ::SendMessageA(Window(), PBM_SETPOS, static_cast<WPARAM>(bar_.Position()), 0);
    }

private:
    TProgressBar& bar_;
};

// A timer: SetTimer on one message-only window of the process; a tick is not re-entered
// while its own handler pumps messages.
class TimerPeer : public TComponentPeer {
public:
    TimerPeer(Application& app, TTimer& timer) : app_(app), timer_(timer) { Sync(); }
    ~TimerPeer() override { Stop(); }

    void Changed(TComponent&, TProperty) override { Sync(); }

    void Sync()
    {
        Stop();
        if (timer_.Enabled() && timer_.Interval() > 0) {
            id_ = nextId_++;
            timers_[id_] = this;
            ::SetTimer(Sink(), id_, static_cast<UINT>(timer_.Interval()), nullptr);
        }
    }

    static void Fire(UINT_PTR id)
    {
        const auto it = timers_.find(id);
        if (it == timers_.end())
            return;
        TimerPeer* p = it->second;
        if (p->busy_)
            return;
        p->busy_ = true;
        // The peer may be freed by the handler (the timer with its window): nothing of it is
        // touched afterwards unless it is still registered.
        p->app_.Guard([p] { p->timer_.Tick(); });
        const auto again = timers_.find(id);
        if (again != timers_.end())
            again->second->busy_ = false;
    }

private:
    void Stop()
    {
        if (id_) {
            ::KillTimer(Sink(), id_);
            timers_.erase(id_);
            id_ = 0;
        }
    }

    static HWND Sink();

    Application& app_;
    TTimer& timer_;
    UINT_PTR id_ = 0;
    bool busy_ = false;
    static inline std::map<UINT_PTR, TimerPeer*> timers_;
    static inline UINT_PTR nextId_ = 1;
};

LRESULT CALLBACK TimerSinkProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_TIMER) {
        TimerPeer::Fire(wp);
        return 0;
    }
    return ::DefWindowProcA(h, msg, wp, lp);
}

HWND TimerPeer::Sink()
{
    static HWND sink = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = TimerSinkProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "UpdaterTimerSink";
        ::RegisterClassExA(&wc);
        return ::CreateWindowExA(0, "UpdaterTimerSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr);
    }();
    return sink;
}

// WM_DPICHANGED, which the headers of older targets do not name.
constexpr UINT kWmDpiChanged = 0x02E0;

LRESULT CALLBACK FormProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* form = dynamic_cast<FormPeer*>(ControlPeer::Of(h));
    if (!form)
        return ::DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case WM_CLOSE: {
        // The model decides: a granted close hides the form.
        auto* f = static_cast<TForm*>(&form->Control());
        form->App().Guard([f] { f->Close(); });
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED || HIWORD(wp) == STN_CLICKED) {
            if (ControlPeer* child = ControlPeer::Of(reinterpret_cast<HWND>(lp))) {
                TControl* c = &child->Control();
                if (c->Enabled())
                    form->App().Guard([c] { c->Click(); });
                return 0;
            }
        }
        break;
    case kWmDpiChanged:
        form->RescaleAll();
        return 0;
    case WM_SETCURSOR:
        if (ControlPeer* child = ControlPeer::Of(reinterpret_cast<HWND>(wp));
            child && child != form && child->Control().Cursor() == TCursor::crHandPoint) {
            ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
        if (ControlPeer* child = ControlPeer::Of(reinterpret_cast<HWND>(lp))) {
            HDC dc = reinterpret_cast<HDC>(wp);
            ::SetTextColor(dc, ColorOf(child->EffectiveFont().Color));
            ::SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(form->Background());
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcA(h, msg, wp, lp);
}

std::unique_ptr<TComponentPeer> CreatePeer(Application& app, TComponent& c)
{
    if (auto* x = dynamic_cast<TForm*>(&c))
        return std::make_unique<FormPeer>(app, *x);
    if (auto* x = dynamic_cast<TTimer*>(&c))
        return std::make_unique<TimerPeer>(app, *x);
    if (auto* x = dynamic_cast<TButton*>(&c))
        return std::make_unique<ChildPeer>(app, *x, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP);
    if (auto* x = dynamic_cast<TLabel*>(&c))
        return std::make_unique<ChildPeer>(app, *x, "STATIC", SS_LEFT | SS_NOTIFY);
    if (auto* x = dynamic_cast<TMemo*>(&c))
        return std::make_unique<MemoPeer>(app, *x);
    if (auto* x = dynamic_cast<TProgressBar*>(&c))
        return std::make_unique<ProgressBarPeer>(app, *x);
    if (auto* x = dynamic_cast<TEdit*>(&c))
        return std::make_unique<ChildPeer>(app, *x, "EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE);
    if (auto* x = dynamic_cast<TCheckBox*>(&c))
        return std::make_unique<ChildPeer>(app, *x, "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP);
    if (auto* x = dynamic_cast<TCustomGroupBox*>(&c))
        return std::make_unique<ChildPeer>(app, *x, "BUTTON", BS_GROUPBOX);
    return nullptr;
}

void Attach(Application& app, TComponent& c, std::vector<TComponent*>& fresh)
{
    if (!c.Peer()) {
        if (auto peer = CreatePeer(app, c)) {
            c.SetPeer(std::move(peer));
            fresh.push_back(&c);
        }
    }
    for (TComponent* child : c.Components())
        Attach(app, *child, fresh);
}

} // namespace

void Win32UiBackend::AttachPeers(TForm& form)
{
    std::vector<TComponent*> fresh;
    Attach(app_, form, fresh);
    // Children first, so that a window is shown only once its controls are in place.
    for (auto it = fresh.rbegin(); it != fresh.rend(); ++it)
        if (auto* p = dynamic_cast<ControlPeer*>((*it)->Peer()); p && *it != &form)
            p->SyncAll();
    if (auto* p = dynamic_cast<ControlPeer*>(form.Peer()))
        p->SyncAll();
}

void* Win32UiBackend::WindowOf(const TComponent* component)
{
    auto* p = component ? dynamic_cast<ControlPeer*>(component->Peer()) : nullptr;
    return p ? p->Window() : nullptr;
}

} // namespace platform
