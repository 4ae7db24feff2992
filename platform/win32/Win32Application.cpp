#include "platform/win32/Win32Application.h"

#include "platform/ui/Form.h"
#include "platform/win32/Win32Sockets.h"
#include "platform/win32/Win32UiBackend.h"
#include "platform/win32/WindowsHeaders.h"

#include <objbase.h>

namespace platform {

Win32Application::Win32Application() : mainThread_(::GetCurrentThreadId())
{
    comInitialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
}

Win32Application::~Win32Application()
{
    if (comInitialised_)
        ::CoUninitialize();
}

bool Win32Application::Dispatch(void* m)
{
    MSG& msg = *static_cast<MSG*>(m);
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return false;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
    return true;
}

void Win32Application::ProcessMessages()
{
    ++processCount_;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        Dispatch(&msg);
}

bool Win32Application::HandleMessage()
{
    if (terminated_)
        return false;
    MSG msg;
    const BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
    if (r == -1)
        return !terminated_;
    if (r == 0) {
        terminated_ = true;
        return false;
    }
    Dispatch(&msg);
    return !terminated_;
}

bool Win32Application::PeekMessage()
{
    MSG msg;
    return ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
}

bool Win32Application::WaitSocketOrMessage(std::intptr_t socket, int timeoutMs)
{
    if (!IsMainThread())
        return false;
    const SocketWaitEnd end = WaitSocketOrQueue(static_cast<TSocket>(socket), timeoutMs);
    if (end == SocketWaitEnd::Failed) {
        // A socket that cannot be waited on (a handler closed it): the caller sees that at
        // its next check. Meanwhile one short wait on the queue alone, as a slice would.
        ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs == 0 ? 0 : 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    ProcessMessages();
    return true;
}

void Win32Application::Terminate()
{
    terminated_ = true;
    // Wakes a GetMessageA that waits in the loop; the message itself does nothing.
    ::PostThreadMessageA(mainThread_, WM_NULL, 0, 0);
}

void Win32Application::Run()
{
    while (HandleMessage()) {
    }
}

void* Win32Application::WindowOf(TForm* form) { return form ? Win32UiBackend::WindowOf(form) : nullptr; }

int Win32Application::MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type)
{
    return ::MessageBoxA(static_cast<HWND>(WindowOf(owner)), text.c_str(), caption.c_str(), static_cast<UINT>(type));
}

void Win32Application::ShowMessage(const std::string& text)
{
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), title_.c_str(), MB_OK);
}

void Win32Application::ShowException(const std::string& message)
{
    ::MessageBoxA(::GetActiveWindow(), message.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

void Win32Application::SetActiveWindow(TForm* form)
{
    if (HWND h = static_cast<HWND>(WindowOf(form)))
        ::SetActiveWindow(h);
}

bool Win32Application::IsMainThread() const { return ::GetCurrentThreadId() == mainThread_; }

} // namespace platform
