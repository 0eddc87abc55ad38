#pragma once
// The error box: how an error that reached the user's attention is shown.
#include <windows.h>

#include <string>
#include <string_view>

namespace zal {

// The box's text: the message, with "." added when it is not empty and its last byte sorts after ".".
std::string ErrorBoxText(std::string_view message);

// MessageBoxA with the stop icon and one OK button, owned by owner (which may be null).
void ShowErrorBox(HWND owner, std::string_view caption, std::string_view message);

} // namespace zal
