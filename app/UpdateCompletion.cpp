#include "app/UpdateCompletion.h"

#include "app/FileNames_win.h"
#include "app/UpdatePlan.h"
#include "ui/Error.h"
#include "ui/Handles.h"

#include <windows.h>

#include <utility>

namespace zal {

namespace {

// The outcome of one step: ERROR_SUCCESS, or the system's code taken before anything can overwrite it.
DWORD Outcome(bool ok) {
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

// A read-only file or a directory refuses access for good, and so does a path that cannot even be looked
// at; any other refusal is taken as a file that another process still has open, which ends when it exits.
bool RefusesForGood(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

bool IsHeldByAnother(DWORD error, const std::string& path) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        return !RefusesForGood(path);
    default:
        return false;
    }
}

// Runs step until it succeeds, waiting while path is held by another process. Throws Win32Error with the
// step's own code when it fails for another reason or the wait runs out.
template <typename Step>
void WithRetry(const RetryPolicy& retry, const std::string& path, Step step) {
    unsigned long waited = 0;
    for (;;) {
        DWORD error = step();
        if (error == ERROR_SUCCESS) {
            return;
        }
        if (!IsHeldByAnother(error, path) || waited >= retry.LimitMs) {
            throw Win32Error(error);
        }
        if (retry.Wait) {
            retry.Wait(retry.IntervalMs);
        } else {
            ::Sleep(retry.IntervalMs);
        }
        waited += retry.IntervalMs > 0 ? retry.IntervalMs : 1; // an interval of 0 still ends the wait
    }
}

void RemoveOwnFile(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    ::DeleteFileA(path.c_str());
}

// Removes the temporary file unless the replacement got as far as moving it into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : FPath(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!FMoved) {
            RemoveOwnFile(FPath);
        }
    }
    void Moved() noexcept { FMoved = true; }

private:
    std::string FPath;
    bool FMoved = false;
};

// The copy takes the staged file's attributes; a read-only bit would stop the flush now and the next
// update later, so the installed file does not keep it.
DWORD MakeWritable(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError();
    }
    return Outcome((attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
                   ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY));
}

DWORD FlushToDisk(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    return Outcome(::FlushFileBuffers(file.Get()));
}

void ReplaceInstalledFile(const StagedPaths& paths, const RetryPolicy& retry) {
    TemporaryFile temporary(paths.Temporary);
    WithRetry(retry, paths.Temporary, [&] { return Outcome(CopyFileOver(paths.Staged, paths.Temporary)); });
    WithRetry(retry, paths.Temporary, [&] { return MakeWritable(paths.Temporary); });
    WithRetry(retry, paths.Temporary, [&] { return FlushToDisk(paths.Temporary); });
    WithRetry(retry, paths.Installed, [&] {
        // Windows refuses to replace a read-only file, some other systems rename over it regardless; the
        // bit is somebody's decision, so it is kept everywhere.
        DWORD attributes = ::GetFileAttributesA(paths.Installed.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return static_cast<DWORD>(ERROR_ACCESS_DENIED);
        }
        return Outcome(::MoveFileExA(paths.Temporary.c_str(), paths.Installed.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    });
    temporary.Moved();
}

} // namespace

void StagedReplace(IUpdateHost& host, std::string_view target, const RetryPolicy& retry) {
    const MultiByteSettings& mb = host.MultiByte();
    if (!ArgumentNamesTarget(host.Argument1(), target, mb)) {
        return;
    }
    StagedPaths paths = StagedPathsFor(host.OwnExePath(), target, mb);
    // Left behind by a run that was killed half way; it is ours and holds nothing the user needs.
    RemoveOwnFile(paths.Temporary);
    if (ProbePath(paths.Staged) != PathKind::File) {
        return;
    }
    ReplaceInstalledFile(paths, retry);
    // The installed file now holds the update. A staged copy that cannot be removed is still reported:
    // left in place without a word, it would be applied again by a later run, over whatever is installed
    // by then.
    WithRetry(retry, paths.Staged, [&] { return Outcome(RemoveFile(paths.Staged)); });
}

void CompleteUpdate(IUpdateHost& host, const RetryPolicy& retry) {
    for (std::string_view target : UpdateTargets) {
        StagedReplace(host, target, retry);
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
