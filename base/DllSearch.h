#pragma once
// Where the process loads DLLs from.

namespace zal {

// Restricts where DLLs are loaded from to the system directory, where the system offers it, so that a DLL
// planted beside the tool (a download folder) is never loaded. The entry point calls it before anything
// else can load a DLL. True when the restriction is in force.
bool HardenDllSearch() noexcept;

} // namespace zal
