#pragma once
// The file operations of the update: every call that the completion makes on the files of the tool's
// directory goes through here. The replacement reports the system's error code instead of throwing, so
// that the completion decides what is worth waiting for.
#include "core/ProgramImage.h"
#include "core/UpdatePlan.h"

#include <optional>
#include <string>

namespace zal {

// What the directory lists under a name, from one lookup: whether something is there and whether it is a
// directory, and the stamp (size and last-write time) that a rename carries along with the content, so that
// the name of a file renamed over another shows the stamp of the one renamed.
struct FileEntry {
    bool Exists = false;
    bool Directory = false;
    unsigned long long Size = 0;
    unsigned long long LastWrite = 0;

    bool IsFile() const noexcept { return Exists && !Directory; }
    bool SameStamp(const FileEntry& other) const noexcept {
        return IsFile() && other.IsFile() && Size == other.Size && LastWrite == other.LastWrite;
    }
};

// The directory's entry for path; one that does not exist when neither the name nor its directory is there.
// Attributes and time stamps do not matter: build pipelines stamp files with 1970 or far-future times, and
// such a file is still the update. Throws Win32Error when the system cannot tell (a path too long for the
// ANSI calls, a directory that cannot be read), so that a staged copy that cannot be seen is never taken for
// an absent one.
FileEntry LookUp(const std::string& path);

// What a staged copy with these file attributes and this reparse tag is refused with, or ERROR_SUCCESS when
// it may be installed. Only a link (a symbolic link, a junction, a mount point: a tag that names another
// file) is refused, with ERROR_CANT_ACCESS_FILE; other reparse points, such as deduplicated files
// and cloud placeholders, hold their own content. A read-only bit is no reason, since it is the tool's to
// clear.
unsigned long StagedCopyRefusal(unsigned long attributes, unsigned long reparseTag) noexcept;

// The step of the replacement that an outcome comes from.
enum class ReplaceStep {
    Installed, // looking at the installed file
    Staged,    // holding the staged copy, checking it, giving it its security, flushing it
    Rename,    // renaming it over the installed file
};

// How one attempt at the replacement ended.
struct ReplaceOutcome {
    unsigned long Error = 0; // ERROR_SUCCESS, or the code of the step that failed or of the refusal
    ReplaceStep At = ReplaceStep::Rename;
    // When the rename was refused with ERROR_ACCESS_DENIED: what opening the installed file for deletion gave
    // right afterwards, which tells a file somebody holds from a right the tool lacks. Empty otherwise.
    std::optional<unsigned long> DeleteProbe;
};

// Whether waiting can mend a failed attempt. Sharing and lock violations, and a file that another process
// has mapped, end when that process lets go, as a ZAL that is still exiting does within moments. A refused
// rename is waited for only when the tool may delete the installed file, or may not only because somebody
// holds it: a running program's image refuses to be replaced until it ends. A right the tool lacks, a
// read-only or missing file, or a refused staged copy, refuses for good and is shown at once.
bool WorthWaiting(const ReplaceOutcome& outcome) noexcept;

// What the user is told when the wait for a file that somebody holds runs out: that the file is in use.
// Windows refuses a rename over a file held open, or over a running program, with ERROR_ACCESS_DENIED, whose
// text would send the user to his rights instead of to the program that holds the file, so that refusal is
// told as ERROR_SHARING_VIOLATION; any other code stands. The file held is the staged copy when the outcome
// comes from its step, and the installed file otherwise.
unsigned long HeldFileError(const ReplaceOutcome& outcome) noexcept;

// The calls of the replacement whose answers rest on the file system's order of checks and on the caller's
// rights, which Wine does not decide as Windows does. Each is the system call it names and fails as that
// call does, with the thread's last error set. The tool makes them as they are; tests stand in for Windows
// where Wine answers otherwise.
class IFileCalls {
public:
    virtual ~IFileCalls() = default;
    // CreateFileA of an existing file, a link opened itself, never what it points at: a handle, or
    // INVALID_HANDLE_VALUE.
    virtual void* Open(const std::string& path, unsigned long access, unsigned long share,
                       unsigned long flags) = 0;
    // ReOpenFile, links as they lie, sharing everything: another handle on the file that file is open on.
    // For rights that hold no data (WRITE_DAC, WRITE_OWNER) the system looks at no sharing.
    virtual void* ReOpen(void* file, unsigned long access) = 0;
    // GetKernelObjectSecurity and SetKernelObjectSecurity.
    virtual bool GetSecurity(void* file, unsigned long parts, void* descriptor, unsigned long size,
                             unsigned long& needed) = 0;
    virtual bool SetSecurity(void* file, unsigned long parts, void* descriptor) = 0;
};

// The system's own calls.
IFileCalls& SystemFileCalls();

// One attempt at replacing the installed file with the staged copy.
// - A read-only installed file, or a directory in its place, is refused before anything is touched.
// - The staged copy is opened as it lies, links not followed, and held until it is renamed: the handle
//   shares reading only, so that nobody else can write to it, rename it, delete it, or put another file
//   under its name, and the bytes renamed are the bytes checked. It is refused unless it is a complete image
//   of the target's kind, built for a machine this Windows runs (as runs answers), whose signature, if it
//   has one, matches its bytes (StagedImageRefusal).
// - It takes the installed file's access list, and where the tool may its owner (or what a new file in the
//   directory gets, when none was installed), is flushed to disk, and is renamed over the installed file
//   through the held handle, in one step.
// - Its read-only bit goes only while the tool holds it; the bit, its access list and its owner come back
//   when it is not renamed. A staged copy that another process holds is not touched.
ReplaceOutcome ReplaceWithStagedCopy(const StagedPaths& paths, const MachineQuery& runs, IFileCalls& calls);

} // namespace zal
