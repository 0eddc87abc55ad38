#include "app/UpdateCompletion.h"

#include "app/FileNames_win.h"
#include "app/UpdatePlan.h"
#include "ui/Error.h"
#include "ui/Handles.h"

#include <windows.h>

#include <utility>

namespace zal {

namespace {

// The outcome of one call: ERROR_SUCCESS, or the system's code taken before anything can overwrite it.
DWORD Outcome(bool ok) {
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

bool HasAttribute(const std::string& path, DWORD attribute) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute) != 0;
}

// A file that another process has open refuses access until that process lets go, which a ZAL that is
// still exiting does within moments. A read-only file, a directory or a name that cannot be looked at
// refuses for good, and so does a directory that will not take the new name.
bool IsHeldByAnother(DWORD error, const StagedPaths& paths) {
    const auto plainFile = [](const std::string& path) {
        DWORD attributes = ::GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    };
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        return plainFile(paths.Staged) && plainFile(paths.Installed);
    default:
        return false;
    }
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

// One attempt at the whole replacement; ERROR_SUCCESS, or the code of the step that failed.
DWORD TryReplace(const StagedPaths& paths) {
    // Windows refuses to replace a read-only file, some other systems rename over it regardless. The bit is
    // somebody's decision, so it is kept everywhere, and the staged copy is not touched.
    if (HasAttribute(paths.Installed, FILE_ATTRIBUTE_READONLY)) {
        return ERROR_ACCESS_DENIED;
    }
    if (DWORD error = MakeStagedCopyReady(paths.Staged); error != ERROR_SUCCESS) {
        return error;
    }
    return Outcome(::MoveFileExA(paths.Staged.c_str(), paths.Installed.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

} // namespace

unsigned long StagedCopyRefusal(unsigned long attributes) noexcept {
    // A link (a reparse point), whatever it points at, must never become the installed program.
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
}

bool WaitBudget::Wait() {
    if (FWaitedMs >= RetryLimitMs) {
        return false;
    }
    FHost.Pause(RetryIntervalMs);
    FWaitedMs += RetryIntervalMs;
    return true;
}

void StagedReplace(IUpdateHost& host, std::string_view target, WaitBudget& budget) {
    const MultiByteSettings& mb = host.MultiByte();
    if (!ArgumentNamesTarget(host.Argument1(), target, mb)) {
        return;
    }
    StagedPaths paths = StagedPathsFor(host.OwnExePath(), target, mb);
    if (ProbePath(paths.Staged) != PathKind::File) {
        return;
    }
    for (;;) {
        DWORD error = TryReplace(paths);
        if (error == ERROR_SUCCESS) {
            return;
        }
        // Another instance of the tool, pressed at the same time, applied this very update.
        if (error == ERROR_FILE_NOT_FOUND && ProbePath(paths.Staged) == PathKind::Missing) {
            return;
        }
        if (!IsHeldByAnother(error, paths) || !budget.Wait()) {
            throw Win32Error(error);
        }
    }
}

void CompleteUpdate(IUpdateHost& host) {
    WaitBudget budget(host);
    for (std::string_view target : UpdateTargets) {
        StagedReplace(host, target, budget);
    }
    host.Pause(UpdatePauseMs);
    host.RequestClose();
}

SystemUpdateHost::SystemUpdateHost(std::function<void()> requestClose)
    : FRequestClose(std::move(requestClose)) {}

std::string SystemUpdateHost::Argument1() {
    return CommandLineArg(1);
}

std::string SystemUpdateHost::OwnExePath() {
    return zal::OwnExePath();
}

const MultiByteSettings& SystemUpdateHost::MultiByte() {
    return CurrentMultiByteSettings();
}

void SystemUpdateHost::Pause(unsigned long milliseconds) {
    zal::Pause(milliseconds);
}

void SystemUpdateHost::RequestClose() {
    if (FRequestClose) {
        FRequestClose();
    }
}

} // namespace zal
