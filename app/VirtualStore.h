#pragma once
// Keeping the tool out of the VirtualStore. The tool's manifest names no execution level, so that Windows'
// installer detection elevates it; where that detection is switched off by policy, the tool runs unelevated
// and, as a program without an execution level, virtualised: Windows then redirects its writes under
// Program Files to %LOCALAPPDATA%\VirtualStore, and the tool would close as if it had updated while the real
// ZAL.exe stayed old. Virtualisation is a flag of the process's access token (TokenVirtualizationEnabled),
// which the process may read and clear with GetTokenInformation and SetTokenInformation; once it is clear, a
// write the tool may not make fails with ERROR_ACCESS_DENIED, which the error box shows.

namespace zal {

// The process token's virtualisation flag.
class ITokenVirtualization {
public:
    virtual ~ITokenVirtualization() = default;
    // ERROR_SUCCESS with enabled set, or the system's error; ERROR_INVALID_PARAMETER where the system knows
    // no such flag (before Windows Vista, which virtualises nothing).
    virtual unsigned long Query(bool& enabled) = 0;
    virtual unsigned long Disable() = 0;
};

// Clears the flag when it is set. ERROR_SUCCESS once no write of the process can be redirected; otherwise
// the system's error, and nothing may be written.
unsigned long KeepOutOfVirtualStore(ITokenVirtualization& token);

// The same, on this process's own token.
unsigned long KeepOutOfVirtualStore();

} // namespace zal
