#pragma once
// The file operations of the update: every call that the completion makes on the files of the tool's
// directory goes through here. The replacement reports the system's error code instead of throwing, so
// that the completion decides what is worth waiting for.
#include "app/UpdatePlan.h"

#include <string>

namespace zal {

// True when path names a file, false when it names nothing or a directory; attributes and time stamps do
// not matter. Throws Win32Error when the system cannot tell (a path too long for the ANSI calls, a
// directory that cannot be read), so that a staged copy that cannot be seen is not taken for an absent one.
bool FileIsPresent(const std::string& path);

// What a staged copy with these file attributes is refused with (ERROR_CANT_ACCESS_FILE for a link), or
// ERROR_SUCCESS when it may be installed; a read-only bit is no reason, since it is the tool's to clear.
unsigned long StagedCopyRefusal(unsigned long attributes) noexcept;

// One attempt at replacing the installed file with the staged copy: the staged copy's read-only bit goes,
// its content is flushed to disk, and it is renamed over the installed file in one step. A read-only
// installed file is refused before anything is touched. ERROR_SUCCESS, or the code of the step that failed.
unsigned long ReplaceWithStagedCopy(const StagedPaths& paths);

// Whether error, met by ReplaceWithStagedCopy, is a file that another process still holds, which ends by
// itself, rather than a refusal that waiting cannot change.
bool IsHeldByAnother(unsigned long error, const StagedPaths& paths);

} // namespace zal
