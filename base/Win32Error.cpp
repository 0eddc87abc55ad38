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

std::string FillInsert(std::string_view text, std::string_view insert) {
    std::string filled;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '%' && k + 1 < text.size() && text[k + 1] == '1') {
            filled += insert;
            ++k;
        } else {
            filled += text[k];
        }
    }
    return filled;
}

// runtime_error copies its message whichever way it gets it; given as a C string it leaves out the runtime's
// std::string constructors of the exception classes, which the executable has no other use for.
Win32Error::Win32Error(unsigned long code) : std::runtime_error(SystemErrorText(code).c_str()), FCode(code) {}

Win32Error::Win32Error(unsigned long code, std::string_view insert)
    : std::runtime_error(FillInsert(SystemErrorText(code), insert).c_str()), FCode(code) {}

const char* CurrentErrorMessage() noexcept {
    try {
        throw;
    } catch (const SilentAbort&) {
        return nullptr;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "";
    }
}

void ThrowLastError(unsigned long whenNone) {
    DWORD code = ::GetLastError();
    throw Win32Error(code != ERROR_SUCCESS ? code : whenNone);
}

} // namespace zal
