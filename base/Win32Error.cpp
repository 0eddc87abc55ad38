#include "base/Win32Error.h"

#include <windows.h>

namespace zal {

std::string SystemErrorText(unsigned long code) {
    char* buffer = nullptr;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        // The system has no text for this code; the number still tells a support person what happened.
        text = "Error " + std::to_string(code);
    }
    return text;
}

Win32Error::Win32Error(unsigned long code) : std::runtime_error(SystemErrorText(code)), FCode(code) {}

void ThrowLastError(unsigned long whenNone) {
    DWORD code = ::GetLastError();
    throw Win32Error(code != ERROR_SUCCESS ? code : whenNone);
}

} // namespace zal
