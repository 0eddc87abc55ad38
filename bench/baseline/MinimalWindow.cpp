// The least a Win32 program can be and still show what the tool shows at a glance: one window of the tool's
// client size with one push button, a message loop, and nothing else. The benchmarks measure the tool
// against it, so it is built with the same compiler, flags and static runtime. Built a second time with
// MINIMAL_AS_TOOL, it also does the two things of the tool's start-up that load more of the system: the
// tool's manifest (common controls 6, themed button) and CoInitialize.
#include <windows.h>
#if defined(MINIMAL_AS_TOOL)
#include <objbase.h>
#endif

namespace {

constexpr int ClientWidth = 487;
constexpr int ClientHeight = 90;
constexpr int ButtonId = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == ButtonId) {
            ::DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
#if defined(MINIMAL_AS_TOOL)
    const bool com = SUCCEEDED(::CoInitialize(nullptr));
#endif
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "MinimalWindow";
    if (!::RegisterClassA(&windowClass)) {
        return 1;
    }

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, ClientWidth, ClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = ::CreateWindowExA(0, "MinimalWindow", "Minimal", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                    instance, nullptr);
    if (!window) {
        return 1;
    }
    ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 159, 47, 169,
                      28, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ButtonId)), instance, nullptr);
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);

    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageA(window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
#if defined(MINIMAL_AS_TOOL)
    if (com) {
        ::CoUninitialize();
    }
#endif
    return static_cast<int>(message.wParam);
}
