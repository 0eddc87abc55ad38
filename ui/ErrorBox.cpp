#include "ui/ErrorBox.h"

namespace zal {

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

void ShowErrorBox(HWND owner, std::string_view caption, std::string_view message) {
    ::MessageBoxA(owner, ErrorBoxText(message).c_str(), std::string(caption).c_str(), MB_OK | MB_ICONERROR);
}

} // namespace zal
