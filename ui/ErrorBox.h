#pragma once
// The error box: how an error that reached the user's attention is shown, while the tool runs and when its
// start-up failed.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace zal {

// The box's text: the message, with "." added when it is not empty and its last byte sorts after ".".
std::string ErrorBoxText(std::string_view message);

// MessageBoxA with the stop icon and one OK button, owned by owner (which may be null).
void ShowErrorBox(HWND owner, std::string_view caption, std::string_view message);

// The box over the application window of a running tool. Before it opens, the window holding the mouse
// capture is told to cancel its mode, the application window moves to the active window's monitor so the
// box opens where the user looks, and every visible, enabled top-level window of this thread is disabled.
// When it closes, all of that is undone, and the active window and the focus are what they were.
void ShowApplicationErrorBox(HWND application, std::string_view caption, std::string_view message);

// The body of a windowed program's entry point. Start-up runs outside the message loop, so an error there
// (a window the system will not make, no display at all) would end the process abnormally. It is shown in
// an error box captioned caption instead, when a box can still be shown, and the result is then 0: the
// program that started this one relies on that exit code.
int RunApplication(std::string_view caption, const std::function<int()>& body) noexcept;

} // namespace zal
