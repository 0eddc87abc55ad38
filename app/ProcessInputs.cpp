#include "app/ProcessInputs.h"

#include "base/Win32Error.h"
#include "core/CodePage.h"
#include "core/CommandLine.h"
#include "core/PathRules.h"

#include <windows.h>

#include <cstring>

namespace zal {

namespace {

MultiByteSettings& Settings() {
    static MultiByteSettings settings;
    return settings;
}

LCID EffectiveThreadLocale() {
    LCID locale = ::GetThreadLocale();
    return locale != 0 ? locale : 0x0409;
}

std::array<unsigned char, 12> LeadByteRanges(unsigned codePage) {
    std::array<unsigned char, 12> ranges{};
    CPINFO info{};
    if (::GetCPInfo(codePage, &info)) {
        static_assert(sizeof info.LeadByte == sizeof ranges);
        std::memcpy(ranges.data(), info.LeadByte, sizeof info.LeadByte);
    }
    return ranges;
}

} // namespace

const MultiByteSettings& CurrentMultiByteSettings() {
    return Settings();
}

unsigned LocaleAnsiCodePage() {
    char text[16] = {};
    int length = ::GetLocaleInfoA(EffectiveThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text);
    // The length counts the terminating zero; a failed call leaves no text, which ParseCodePage rejects.
    std::string_view digits(text, length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return ParseCodePage(digits, ::GetACP());
}

LocaleFacts GatherLocaleFacts() {
    LocaleFacts facts;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    // Every system this runs on is NT; a failed call is taken as NT too.
    facts.IsNT = !::GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    facts.ThreadLocale = ::GetThreadLocale();
    facts.DbcsEnabled = ::GetSystemMetrics(SM_DBCSENABLED) != 0;
    facts.LeadByteRanges = LeadByteRanges(LocaleAnsiCodePage());
    return facts;
}

void DecideCurrentMultiByteSettings() {
    Settings() = DecideMultiByteSettings(GatherLocaleFacts());
}

void RedecideMultiByteSettings() {
    ::SetThreadLocale(LOCALE_USER_DEFAULT);
    DecideCurrentMultiByteSettings();
}

std::string ProcessCommandLine() {
    const char* line = ::GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
}

std::string CommandLineArg(int n) {
    return CommandLineArg(ProcessCommandLine(), n, CodePageMultiByteSettings(LeadByteRanges(::GetACP())));
}

std::string ModuleFilePath(HMODULE module) {
    // A path can hold 32767 UTF-16 units, which take up to twice as many bytes in a double-byte code page.
    constexpr DWORD limit = 2 * 32768;
    std::string buffer(MAX_PATH + 1, '\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        ::SetLastError(ERROR_SUCCESS);
        DWORD length = ::GetModuleFileNameA(module, buffer.data(), size);
        if (length == 0) {
            DWORD error = ::GetLastError();
            throw Win32Error(error != ERROR_SUCCESS ? error : ERROR_BAD_PATHNAME);
        }
        // A full buffer means a cut path: newer systems also set ERROR_INSUFFICIENT_BUFFER, older ones only
        // fill the buffer without a terminating zero. Either way the length equals the size.
        if (length < size) {
            buffer.resize(length);
            break;
        }
        if (size >= limit) {
            throw Win32Error(ERROR_FILENAME_EXCED_RANGE);
        }
        buffer.resize(size * 2);
    }
    return buffer;
}

std::string OwnExePath() {
    return OwnExePathFrom(ModuleFilePath(nullptr));
}

std::string OwnExePathFrom(std::string_view modulePath) {
    std::string path = WithoutLongPathPrefix(modulePath);
    // A path the code page cannot spell comes back with question marks, which FindFirstFileA would take
    // as wildcards; and a path without a directory would aim every name at the current directory.
    if (path.find_first_of("?*") != std::string::npos) {
        throw Win32Error(ERROR_INVALID_NAME);
    }
    std::string directory = DirectoryPart(path, CurrentMultiByteSettings());
    if (directory.empty() || directory.back() != '\\') {
        throw Win32Error(ERROR_BAD_PATHNAME);
    }
    return path;
}

std::wstring AnsiToWide(const std::string& ansi) {
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
    }
    return wide;
}

} // namespace zal
