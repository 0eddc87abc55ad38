#pragma once
// The program-image rule applied to an open file: the head is read through the caller's handle, so the
// bytes checked are the bytes that the caller then renames, and a signed image's signature is verified by
// the system against the same handle.
#include "core/ProgramImage.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace zal {

// Whether this Windows runs programs built for machine in user mode: the system's own answer, as
// MachineRuns reads it.
bool SystemRunsMachine(std::uint16_t machine);

// Why the staged copy open as file (path is its name) must not be installed as kind: ERROR_BAD_EXE_FORMAT for
// a file that is no complete image of that kind, ERROR_EXE_MACHINE_TYPE_MISMATCH for an image built for a
// machine this Windows cannot run (as runs answers), ERROR_FILE_CORRUPT for a signature that its bytes do
// not match, or the code of a read, or of a signature check, that failed (SignatureRefusal). ERROR_SUCCESS
// when it may be installed.
DWORD StagedImageRefusal(HANDLE file, const std::string& path, ImageKind kind, const MachineQuery& runs);

// WinVerifyTrust's Authenticode result for the file open as file: nothing is shown, nothing goes to the
// network (no revocation check, cached URLs only). wintrust.dll is loaded from the system directory the
// first time only, so that starting the tool never loads it; when it cannot be, or holds no WinVerifyTrust,
// the result is HRESULT_FROM_WIN32 of the reason.
DWORD VerifyEmbeddedSignature(HANDLE file, const std::string& path);

} // namespace zal
