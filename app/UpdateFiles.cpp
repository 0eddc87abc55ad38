#include "app/UpdateFiles.h"

#include "app/ProgramImage_win.h"
#include "base/Handles.h"
#include "base/Win32Error.h"

#include <windows.h>

namespace zal {

namespace {

// The outcome of one call: ERROR_SUCCESS, or the system's code taken before anything can overwrite it.
DWORD Outcome(bool ok) {
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

// A file, not a directory, without any of the attributes in refused; false too for a name that cannot be
// looked at.
bool IsFileWithout(const std::string& path, DWORD refused) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | refused)) == 0;
}

bool IsReadOnly(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The staged copy's attributes and reparse tag, as the directory lists them.
DWORD StagedCopyEntry(const std::string& staged, WIN32_FIND_DATAA& entry) {
    UniqueFind find(::FindFirstFileA(staged.c_str(), &entry));
    return find ? ERROR_SUCCESS : ::GetLastError();
}

// The staged copy is the tool's own staging file. It is checked through the handle that is then held until
// the rename, so that nobody can write other bytes in between, and its content is written to disk before its
// name changes, so that the rename can never install a file whose data is still only in memory. Its
// read-only bit has to go for the handle to write; a staged copy that stays, refused or not renamed, gets it
// back.
DWORD ReplaceHeld(const StagedPaths& paths, const MachineQuery& runs) {
    WIN32_FIND_DATAA entry{};
    if (DWORD error = StagedCopyEntry(paths.Staged, entry); error != ERROR_SUCCESS) {
        return error;
    }
    if (DWORD refusal = StagedCopyRefusal(entry.dwFileAttributes, entry.dwReserved0);
        refusal != ERROR_SUCCESS) {
        return refusal;
    }
    const DWORD attributes = entry.dwFileAttributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !::SetFileAttributesA(paths.Staged.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return ::GetLastError();
    }
    // Sharing deletion lets the rename below take the name while the handle is open.
    UniqueFile file(::CreateFileA(paths.Staged.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = file ? StagedImageRefusal(file.Get(), paths.Staged, paths.Kind, runs) : ::GetLastError();
    if (error == ERROR_SUCCESS) {
        error = Outcome(::FlushFileBuffers(file.Get()));
    }
    if (error == ERROR_SUCCESS) {
        error = Outcome(::MoveFileExA(paths.Staged.c_str(), paths.Installed.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    }
    if (error != ERROR_SUCCESS && readOnly) {
        file.Reset();
        ::SetFileAttributesA(paths.Staged.c_str(), attributes);
    }
    return error;
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

unsigned long StagedCopyRefusal(unsigned long attributes, unsigned long reparseTag) noexcept {
    // A link, whatever it points at, must never become the installed program.
    const bool link =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
    return link ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
}

unsigned long ReplaceWithStagedCopy(const StagedPaths& paths, const MachineQuery& runs) {
    // Windows refuses to replace a read-only file, some other systems rename over it regardless. The bit is
    // somebody's decision, so it is kept everywhere, and the staged copy is not touched.
    if (IsReadOnly(paths.Installed)) {
        return ERROR_ACCESS_DENIED;
    }
    return ReplaceHeld(paths, runs);
}

FileStamp StampOf(const std::string& path) {
    WIN32_FIND_DATAA entry{};
    UniqueFind find(::FindFirstFileA(path.c_str(), &entry));
    if (!find || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    const auto join = [](DWORD high, DWORD low) { return static_cast<unsigned long long>(high) << 32 | low; };
    return {true, join(entry.nFileSizeHigh, entry.nFileSizeLow),
            join(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime)};
}

bool IsHeldByAnother(unsigned long error, const StagedPaths& paths) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        // A file that another process has open refuses access until it lets go, which a ZAL that is still
        // exiting does within moments. A read-only installed file, a directory, a name that cannot be looked
        // at, or a directory that will not take the new name refuses for good; the staged copy's read-only
        // bit is the tool's own to clear.
        return IsFileWithout(paths.Staged, 0) && IsFileWithout(paths.Installed, FILE_ATTRIBUTE_READONLY);
    default:
        return false;
    }
}

} // namespace zal
