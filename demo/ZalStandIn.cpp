// Stands in for ZAL in the demo installation, and shows ZAL's developers how ZAL hands an update to
// ZALUpdate. Run without arguments, it only tells which version it is, so that the replacement of ZAL.exe
// shows when it is run before and after. Run as "ZAL.exe --update-from FILE", it does what ZAL does once it
// has downloaded its new version (here FILE, a copy of the new ZAL.exe): it stages it beside itself as
// ZAL.upd, starts ZALUpdate.exe with the argument ZAL.exe, and exits, so that its own file is free.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Where ZAL is installed: the directory of its own executable, with a trailing backslash. The staged copy
// must land there and nowhere else, since the tool looks for it only beside itself.
std::string InstallationDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length == sizeof path) {
        return {};
    }
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

void Report(const char* what, DWORD error) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::printf("ZAL: %s failed (error %lu): %s\n", what, error, text ? text : "");
    LocalFree(text);
}

// Writes what was downloaded to "<staged>.part", flushes it to disk and only then renames it to the staged
// name, replacing an older staged copy. The tool may be started at any moment, also by a ZAL that ran
// before: it must find either no staged copy or a whole one, never one that is still being written. Check
// the download (its size and hash from the update's description) before it gets the staged name.
bool StageUpdate(const std::string& downloaded, const std::string& staged) {
    const std::string part = staged + ".part";
    HANDLE source = CreateFileA(downloaded.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        Report("opening the download", GetLastError());
        return false;
    }
    HANDLE target =
        CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        Report("creating the staged copy", GetLastError());
        CloseHandle(source);
        return false;
    }
    char buffer[64 * 1024];
    DWORD got = 0, written = 0, error = ERROR_SUCCESS;
    while (error == ERROR_SUCCESS) {
        if (!ReadFile(source, buffer, sizeof buffer, &got, nullptr)) {
            error = GetLastError();
        } else if (got == 0) {
            break;
        } else if (!WriteFile(target, buffer, got, &written, nullptr) || written != got) {
            error = GetLastError();
        }
    }
    if (error == ERROR_SUCCESS && !FlushFileBuffers(target)) {
        error = GetLastError();
    }
    CloseHandle(target);
    CloseHandle(source);
    if (error == ERROR_SUCCESS &&
        !MoveFileExA(part.c_str(), staged.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        Report("staging the update", error);
        DeleteFileA(part.c_str());
        return false;
    }
    return true;
}

// Starts the tool through the shell, so that Windows can ask the user for elevation: the tool replaces files
// under Program Files, and Windows counts it as an installer. CreateProcessA would fail there with
// ERROR_ELEVATION_REQUIRED (740). The user may decline (ERROR_CANCELLED); the staged copy then stays, and the
// next start of ZAL can offer the update again.
bool StartUpdater(const std::string& directory, const char* target) {
    const std::string tool = directory + "ZALUpdate.exe";
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // ZAL exits right after this call, so the shell must be done with the start before it returns.
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = "open";
    info.lpFile = tool.c_str();
    info.lpParameters = target;
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        Report("starting ZALUpdate.exe", GetLastError());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::printf("ZAL version %d\n", ZAL_STAND_IN_VERSION);
    if (argc != 3 || std::strcmp(argv[1], "--update-from") != 0) {
        return 0;
    }
    const std::string directory = InstallationDirectory();
    if (directory.empty()) {
        Report("finding the installation", GetLastError());
        return 1;
    }
    if (!StageUpdate(argv[2], directory + "ZAL.upd")) {
        return 1;
    }
    std::printf("ZAL: staged %sZAL.upd; starting ZALUpdate.exe ZAL.exe and exiting\n", directory.c_str());
    std::fflush(stdout);
    // The shell may hand the start to extensions that need COM on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    bool started = StartUpdater(directory, "ZAL.exe");
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return started ? 0 : 1;
}
