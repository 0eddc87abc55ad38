#include "app/VirtualStore.h"

#include "base/Handles.h"

#include <windows.h>

namespace zal {

namespace {

class ProcessToken final : public ITokenVirtualization {
public:
    explicit ProcessToken(HANDLE token) noexcept : FToken(token) {}

    unsigned long Query(bool& enabled) override {
        DWORD flag = 0;
        DWORD length = 0;
        if (!::GetTokenInformation(FToken, TokenVirtualizationEnabled, &flag, sizeof flag, &length)) {
            return ::GetLastError();
        }
        enabled = flag != 0;
        return ERROR_SUCCESS;
    }

    unsigned long Disable() override {
        DWORD off = 0;
        return ::SetTokenInformation(FToken, TokenVirtualizationEnabled, &off, sizeof off) ? ERROR_SUCCESS
                                                                                           : ::GetLastError();
    }

private:
    HANDLE FToken;
};

} // namespace

unsigned long KeepOutOfVirtualStore(ITokenVirtualization& token) {
    bool enabled = false;
    const unsigned long error = token.Query(enabled);
    if (error == ERROR_INVALID_PARAMETER) {
        return ERROR_SUCCESS; // a system that knows no virtualisation
    }
    if (error != ERROR_SUCCESS || !enabled) {
        return error;
    }
    return token.Disable();
}

unsigned long KeepOutOfVirtualStore() {
    HANDLE handle = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &handle)) {
        return ::GetLastError();
    }
    UniqueKernelHandle owned(handle);
    ProcessToken token(handle);
    return KeepOutOfVirtualStore(token);
}

} // namespace zal
