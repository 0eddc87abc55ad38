#include "app/UpdateFiles.h"

#include "base/Handles.h"
#include "base/Win32Error.h"

#include <windows.h>

namespace zal {

namespace {

// The outcome of one call: ERROR_SUCCESS, or the system's code taken before anything can overwrite it.
DWORD Outcome(bool ok) {
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

// A file that is neither read-only nor a directory; false too for a name that cannot be looked at.
bool IsPlainFile(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool IsReadOnly(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The staged copy is the tool's own staging file: its read-only bit, if it has one, goes, and its content
// is written to disk before its name changes, so that the rename can never install a file whose data is
// still only in memory.
DWORD MakeStagedCopyReady(const std::string& staged) {
    DWORD attributes = ::GetFileAttributesA(staged.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError();
    }
    if (DWORD refusal = StagedCopyRefusal(attributes); refusal != ERROR_SUCCESS) {
        return refusal;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !::SetFileAttributesA(staged.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return ::GetLastError();
    }
    UniqueFile file(::CreateFileA(staged.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    return Outcome(::FlushFileBuffers(file.Get()));
}

} // namespace

bool FileIsPresent(const std::string& path) {
    WIN32_FIND_DATAA entry;
    UniqueFind find(::FindFirstFileA(path.c_str(), &entry));
    if (!find) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
            return false;
        }
        throw Win32Error(error);
    }
    // Build pipelines stamp files with 1970 or far-future times; such a file is still the update.
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

unsigned long StagedCopyRefusal(unsigned long attributes) noexcept {
    // A link (a reparse point), whatever it points at, must never become the installed program.
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
}

unsigned long ReplaceWithStagedCopy(const StagedPaths& paths) {
    // Windows refuses to replace a read-only file, some other systems rename over it regardless. The bit is
    // somebody's decision, so it is kept everywhere, and the staged copy is not touched.
    if (IsReadOnly(paths.Installed)) {
        return ERROR_ACCESS_DENIED;
    }
    if (DWORD error = MakeStagedCopyReady(paths.Staged); error != ERROR_SUCCESS) {
        return error;
    }
    return Outcome(::MoveFileExA(paths.Staged.c_str(), paths.Installed.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool IsHeldByAnother(unsigned long error, const StagedPaths& paths) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        // A file that another process has open refuses access until it lets go, which a ZAL that is still
        // exiting does within moments. A read-only file, a directory, a name that cannot be looked at, or a
        // directory that will not take the new name refuses for good.
        return IsPlainFile(paths.Staged) && IsPlainFile(paths.Installed);
    default:
        return false;
    }
}

} // namespace zal
