#pragma once
// Where the process loads DLLs from, and the kernel32 calls that older systems lack.
#include <windows.h>

namespace zal {

// The kernel32 function name as a pointer of type Proc, looked up rather than imported, so that a system
// without it still starts the tool; null there.
template <typename Proc>
Proc Kernel32Proc(const char* name) noexcept {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel != nullptr ? ::GetProcAddress(kernel, name) : nullptr;
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(proc));
}

// Restricts where DLLs are loaded from to the system directory, where the system offers it, so that a DLL
// planted beside the tool (a download folder) is never loaded. The entry point calls it before anything
// else can load a DLL. True when the restriction is in force.
bool HardenDllSearch() noexcept;

} // namespace zal
