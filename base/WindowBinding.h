#pragma once
// The one binding between a window and the object that owns it: the object that CreateWindowExA was given
// is stored at WM_NCCREATE and forgotten at WM_NCDESTROY, and no exception leaves the window procedure,
// since none may unwind through the system's frames; what escapes a handler goes to the error box.
#include <windows.h>

namespace zal {

// Where an exception that escapes a handler goes. The application object installs its error box; until it
// does, or once it is gone, the exception is dropped. The message loop hands over what escapes it the same
// way. HandleCurrentException is called from a catch block only: the handler runs inside it and learns what
// was thrown by throwing it again.
using ExceptionHandler = void (*)();
void SetExceptionHandler(ExceptionHandler handler) noexcept;
void HandleCurrentException() noexcept;

// The body of a static window procedure for T: handle is T's window field and wndProc its (possibly virtual)
// handler; messages that arrive while no object is bound go to the procedure that unbound(window) names.
template <typename T, typename Unbound>
LRESULT DispatchToObject(HWND window, UINT message, WPARAM wParam, LPARAM lParam, HWND T::*handle,
                         LRESULT (T::*wndProc)(UINT, WPARAM, LPARAM), Unbound unbound) {
    auto* object = reinterpret_cast<T*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!object && message == WM_NCCREATE) {
        object = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        object->*handle = window;
    }
    if (!object) {
        return ::CallWindowProcA(unbound(window), window, message, wParam, lParam);
    }
    LRESULT result = 0;
    try {
        result = (object->*wndProc)(message, wParam, lParam);
    } catch (...) {
        HandleCurrentException();
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        object->*handle = nullptr;
    }
    return result;
}

} // namespace zal
