#include "app/ProgramImage_win.h"

#include "app/ProcessInputs.h"
#include "base/DllSearch.h"

#include <softpub.h>
#include <wintrust.h>

#include <optional>
#include <string>
#include <vector>

namespace zal {

namespace {

// The file's first bytes, at most ImageHeadBytes, read from its start whatever the handle's position.
DWORD ReadHead(HANDLE file, std::vector<unsigned char>& head, std::uint64_t& size) {
    LARGE_INTEGER length{};
    LARGE_INTEGER start{};
    if (!::GetFileSizeEx(file, &length) || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return ::GetLastError();
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, ImageHeadBytes)));
    std::size_t filled = 0;
    while (filled < head.size()) {
        DWORD read = 0;
        if (!::ReadFile(file, head.data() + filled, static_cast<DWORD>(head.size() - filled), &read,
                        nullptr)) {
            return ::GetLastError();
        }
        if (read == 0) {
            break; // shorter than it said a moment ago: the rule sees what is there
        }
        filled += read;
    }
    head.resize(filled);
    return ERROR_SUCCESS;
}

using WinVerifyTrustProc = LONG(WINAPI*)(HWND, GUID*, LPVOID);

// The last error, or fallback when the failed call left none: a refusal must never read as success.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

WinVerifyTrustProc LoadWinVerifyTrust(DWORD& error) {
    static WinVerifyTrustProc proc = nullptr;
    if (proc != nullptr) {
        return proc;
    }
    char system[MAX_PATH + 1] = {};
    UINT length = ::GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system) {
        error = length == 0 ? LastErrorOr(ERROR_PATH_NOT_FOUND) : ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    // A full path, and its own directory searched for what it needs: a wintrust.dll planted beside the tool
    // is never the one loaded.
    const std::string path = std::string(system) + "\\wintrust.dll";
    HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = LastErrorOr(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    FARPROC found = ::GetProcAddress(module, "WinVerifyTrust");
    if (found == nullptr) {
        error = LastErrorOr(ERROR_PROC_NOT_FOUND);
        ::FreeLibrary(module);
        return nullptr;
    }
    // The module stays loaded for the process's life: proc points into it.
    proc = reinterpret_cast<WinVerifyTrustProc>(reinterpret_cast<void*>(found));
    return proc;
}

std::uint16_t MachineOfArchitecture(WORD architecture) {
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return MachineI386;
    case PROCESSOR_ARCHITECTURE_AMD64:
        return MachineAmd64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return MachineArm64;
    case PROCESSOR_ARCHITECTURE_IA64:
        return IMAGE_FILE_MACHINE_IA64;
    case PROCESSOR_ARCHITECTURE_ARM:
        return IMAGE_FILE_MACHINE_ARMNT;
    default:
        return IMAGE_FILE_MACHINE_UNKNOWN;
    }
}

// The machine of the system's own code. IsWow64Process2 tells it to any process, x86 on ARM64 too. Before
// it (Windows 10 1709) no Windows emulated another machine than x86, and GetNativeSystemInfo tells the
// machine under WoW64 as it does under a native process, which is all that IsWow64Process would add.
std::uint16_t AskNativeMachine() {
    using IsWow64Process2Proc = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    if (auto isWow64Process2 = Kernel32Proc<IsWow64Process2Proc>("IsWow64Process2")) {
        USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
        USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
        if (isWow64Process2(::GetCurrentProcess(), &process, &native) &&
            native != IMAGE_FILE_MACHINE_UNKNOWN) {
            return native;
        }
    }
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return MachineOfArchitecture(info.wProcessorArchitecture);
}

// GetMachineTypeAttributes (Windows 11 on): whether machine's code runs in user mode, natively or emulated.
// Empty where the system has no such call, or it fails.
std::optional<bool> AskUserMode(std::uint16_t machine) {
    constexpr int UserEnabled = 0x1; // MACHINE_ATTRIBUTES
    using GetMachineTypeAttributesProc = HRESULT(WINAPI*)(USHORT, int*);
    static const auto getMachineTypeAttributes =
        Kernel32Proc<GetMachineTypeAttributesProc>("GetMachineTypeAttributes");
    int attributes = 0;
    if (getMachineTypeAttributes == nullptr || FAILED(getMachineTypeAttributes(machine, &attributes))) {
        return std::nullopt;
    }
    return (attributes & UserEnabled) != 0;
}

} // namespace

DWORD VerifyEmbeddedSignature(HANDLE file, const std::string& path) {
    DWORD error = ERROR_SUCCESS;
    WinVerifyTrustProc winVerifyTrust = LoadWinVerifyTrust(error);
    if (winVerifyTrust == nullptr) {
        return HRESULT_FROM_WIN32(error);
    }
    const std::wstring widePath = AnsiToWide(path);
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = widePath.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE as the window: there is no interactive user to ask.
    HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG result = winVerifyTrust(noUser, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    winVerifyTrust(noUser, &action, &data);
    return static_cast<DWORD>(result);
}

bool SystemRunsMachine(std::uint16_t machine) {
    static const std::uint16_t native = AskNativeMachine(); // a process never moves to another machine
    return MachineRuns(machine, {native, AskUserMode(machine)});
}

DWORD StagedImageRefusal(HANDLE file, const std::string& path, ImageKind kind, const MachineQuery& runs) {
    std::vector<unsigned char> head;
    std::uint64_t size = 0;
    if (DWORD error = ReadHead(file, head, size); error != ERROR_SUCCESS) {
        return error;
    }
    const ImageCheck check = CheckProgramImage(head, size, kind);
    if (check.Verdict != ImageVerdict::Complete) {
        return ERROR_BAD_EXE_FORMAT;
    }
    if (!runs(check.Machine)) {
        return ERROR_EXE_MACHINE_TYPE_MISMATCH;
    }
    return check.Signed ? SignatureRefusal(VerifyEmbeddedSignature(file, path)) : ERROR_SUCCESS;
}

} // namespace zal
