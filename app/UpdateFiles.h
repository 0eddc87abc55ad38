#pragma once
// The file operations of the update: every call that the completion makes on the files of the tool's
// directory goes through here. The replacement reports the system's error code instead of throwing, so
// that the completion decides what is worth waiting for.
#include "core/ProgramImage.h"
#include "core/UpdatePlan.h"

#include <string>

namespace zal {

// True when path names a file, false when it names nothing or a directory; attributes and time stamps do
// not matter. Throws Win32Error when the system cannot tell (a path too long for the ANSI calls, a
// directory that cannot be read), so that a staged copy that cannot be seen is not taken for an absent one.
bool FileIsPresent(const std::string& path);

// What a staged copy with these file attributes and this reparse tag (FindFirstFileA's dwReserved0) is
// refused with, or ERROR_SUCCESS when it may be installed. Only a link (a symbolic link, a junction, a mount
// point: a tag that names another file) is refused, with ERROR_CANT_ACCESS_FILE; other reparse points, such
// as deduplicated files and cloud placeholders, hold their own content. A read-only bit is no reason, since
// it is the tool's to clear.
unsigned long StagedCopyRefusal(unsigned long attributes, unsigned long reparseTag) noexcept;

// One attempt at replacing the installed file with the staged copy. A read-only installed file is refused
// before anything is touched. The staged copy is opened and held, denying writes to others, until it has
// been renamed: it is refused unless it is a complete image of the target's kind whose signature, if it has
// one, matches its bytes, and built for a machine that runs says this Windows runs (StagedImageRefusal); then
// its content is flushed to disk, its read-only bit goes, and it is renamed over the installed file in one
// step. ERROR_SUCCESS, or the code of the step that failed or of the refusal; a refused staged copy is left
// as it was.
unsigned long ReplaceWithStagedCopy(const StagedPaths& paths, const MachineQuery& runs);

// What the directory says of a file: its size and last-write time, which a rename carries along with the
// content, so that the name of a file renamed over another shows the stamp of the one renamed.
struct FileStamp {
    bool Exists = false;
    unsigned long long Size = 0;
    unsigned long long LastWrite = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at path; none (Exists false) when there is no file there or it cannot be looked at.
FileStamp StampOf(const std::string& path);

// Whether error, met by ReplaceWithStagedCopy, is a file that another process still holds, which ends by
// itself, rather than a refusal that waiting cannot change.
bool IsHeldByAnother(unsigned long error, const StagedPaths& paths);

} // namespace zal
