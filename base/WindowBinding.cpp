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

void HandleCurrentException() noexcept {
    try {
        if (ExceptionHandler handler = InstalledHandler()) {
            handler();
        }
    } catch (...) {
        // Reporting failed too; the window and the loop must go on regardless.
    }
}

} // namespace zal
