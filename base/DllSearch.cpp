#include "base/DllSearch.h"

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace zal {

bool HardenDllSearch() noexcept {
    // Looked up, not imported: systems without the call must still start the tool.
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (!proc) {
        return false;
    }
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(proc));
    return setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

} // namespace zal
