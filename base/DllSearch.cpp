#include "base/DllSearch.h"

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace zal {

bool HardenDllSearch() noexcept {
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    auto setDefaultDllDirectories = Kernel32Proc<SetDefaultDllDirectoriesProc>("SetDefaultDllDirectories");
    return setDefaultDllDirectories != nullptr &&
           setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

} // namespace zal
