#include "base/WindowBinding.h"

namespace zal {

namespace {

ExceptionHandler& InstalledHandler() noexcept {
    static ExceptionHandler handler = nullptr;
    return handler;
}

} // namespace

void SetExceptionHandler(ExceptionHandler handler) noexcept {
    InstalledHandler() = handler;
}

void HandleException(std::exception_ptr error) noexcept {
    try {
        if (ExceptionHandler handler = InstalledHandler()) {
            handler(error);
        }
    } catch (...) {
        // Reporting failed too; the window and the loop must go on regardless.
    }
}

} // namespace zal
