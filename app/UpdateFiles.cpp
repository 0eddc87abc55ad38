#include "app/UpdateFiles.h"

#include "app/ProgramImage_win.h"
#include "base/Handles.h"
#include "base/Win32Error.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace zal {

namespace {

// The outcome of one call: ERROR_SUCCESS, or the system's code taken before anything can overwrite it.
DWORD Outcome(bool ok) {
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class SystemCalls final : public IFileCalls {
public:
    void* Open(const std::string& path, unsigned long access, unsigned long share,
               unsigned long flags) override {
        return ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
    }
    bool GetSecurity(void* file, unsigned long parts, void* descriptor, unsigned long size,
                     unsigned long& needed) override {
        return ::GetKernelObjectSecurity(file, parts, descriptor, size, &needed);
    }
    bool SetSecurity(void* file, unsigned long parts, void* descriptor) override {
        return ::SetKernelObjectSecurity(file, parts, descriptor);
    }
};

// Opens the file that path names as it lies: a link is opened itself, never what it points at.
UniqueFile OpenAsItLies(IFileCalls& calls, const std::string& path, DWORD access, DWORD share,
                        DWORD flags = 0) {
    return UniqueFile(calls.Open(path, access, share, flags));
}

DWORD AttributesOf(HANDLE file, FILE_ATTRIBUTE_TAG_INFO& info) {
    return Outcome(::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info));
}

DWORD SetAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{}; // zero times: left as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return Outcome(::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
}

// FAT volumes and some network shares keep no access rules, and their file systems refuse to be asked for
// them: there are none to keep. (Asking the volume for its FILE_PERSISTENT_ACLS flag first would tell the
// same; 32-bit Wine under emulation does not survive that question, and the answer adds nothing.)
bool KeepsNoRules(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// A security descriptor in self-relative form, as the system hands it out.
using Descriptor = std::vector<unsigned char>;

DWORD AccessRulesOf(IFileCalls& calls, HANDLE file, Descriptor& rules) {
    unsigned long needed = 0;
    calls.GetSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, needed);
    rules.resize(needed);
    return needed == 0
               ? ::GetLastError()
               : Outcome(calls.GetSecurity(file, DACL_SECURITY_INFORMATION, rules.data(), needed, needed));
}

// Sets the access list of rules on file as it stands, with its protection from inheritance: the list is the
// one another file of the same directory had, so there is nothing to inherit anew.
DWORD GiveAccessRules(IFileCalls& calls, HANDLE file, const Descriptor& rules) {
    return Outcome(
        calls.SetSecurity(file, DACL_SECURITY_INFORMATION, const_cast<unsigned char*>(rules.data())));
}

// The access rules that the system gives a file created in directory by this process: the directory's
// inheritable entries, or this process's default list where it has none. Empty when the system computes no
// access list at all (a directory without one); the staged copy then keeps its own, rather than be open to
// everybody; empty too on a volume that keeps no rules.
DWORD NewFileRules(const std::string& directory, Descriptor& rules) {
    constexpr SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityA(directory.c_str(), parts, nullptr, 0, &needed);
    Descriptor parent(needed);
    rules.clear();
    if (needed == 0 || !::GetFileSecurityA(directory.c_str(), parts, parent.data(), needed, &needed)) {
        const DWORD error = ::GetLastError();
        return KeepsNoRules(error) ? ERROR_SUCCESS : error;
    }
    HANDLE tokenHandle = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &tokenHandle)) {
        return ::GetLastError();
    }
    UniqueKernelHandle token(tokenHandle);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PSECURITY_DESCRIPTOR created = nullptr;
    if (!::CreatePrivateObjectSecurityEx(parent.data(), nullptr, &created, nullptr, FALSE,
                                         SEF_DACL_AUTO_INHERIT | SEF_AVOID_OWNER_CHECK |
                                             SEF_AVOID_PRIVILEGE_CHECK,
                                         token.Get(), &mapping)) {
        return ::GetLastError();
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (::GetSecurityDescriptorDacl(created, &present, &list, &defaulted) && present && list != nullptr) {
        const DWORD length = ::GetSecurityDescriptorLength(created);
        const auto* bytes = static_cast<const unsigned char*>(created);
        rules.assign(bytes, bytes + length);
    }
    ::DestroyPrivateObjectSecurity(&created);
    return ERROR_SUCCESS;
}

// What the replacement needs to know of the installed file before anything is touched: whether it is there,
// whether the tool may replace it, and its access rules. It is opened for deletion, sharing everything: a
// sharing violation is a program that holds it (ZAL, still exiting), which waiting mends, and a refusal is a
// right the tool lacks, which it does not. A read-only file is somebody's decision: Windows refuses to
// replace one, some other systems rename over it regardless, so it is refused everywhere. A directory is no
// program to replace.
struct InstalledFile {
    bool Exists = false;
    Descriptor Rules; // empty where there are none to keep
};

DWORD LookAtInstalled(IFileCalls& calls, const std::string& path, InstalledFile& installed) {
    UniqueFile file = OpenAsItLies(calls, path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll,
                                   FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    installed.Exists = true;
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (DWORD error = AttributesOf(file.Get(), info); error != ERROR_SUCCESS) {
        return error;
    }
    if ((info.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    const DWORD error = AccessRulesOf(calls, file.Get(), installed.Rules);
    if (KeepsNoRules(error)) {
        installed.Rules.clear();
        return ERROR_SUCCESS;
    }
    return error;
}

// Everything the held staged copy may need: read for the check, write for the flush, its access list, its
// attributes, and deletion for the rename.
constexpr DWORD HoldAccess =
    GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | FILE_WRITE_ATTRIBUTES;

// The staged copy, held open from its check to its rename. What the tool changes on it (its read-only bit,
// its access rules) it changes through the handle, on the file it holds, and puts back unless the file was
// renamed, so that a staged copy that stays is the one that was staged.
class HeldStagedCopy {
public:
    explicit HeldStagedCopy(IFileCalls& calls) noexcept : FCalls(calls) {}

    // Opens the staged copy, sharing reading only. A read-only copy cannot be opened for writing, so its bit
    // goes first, by its name; a copy that somebody else then holds is left without it, which is the state
    // the update would have given it, and is never given it back, since that somebody may be another
    // instance of the tool about to install it.
    DWORD Open(const std::string& path) {
        FFile = OpenAsItLies(FCalls, path, HoldAccess, FILE_SHARE_READ);
        if (!FFile && ::GetLastError() == ERROR_ACCESS_DENIED && ClearReadOnlyByName(path)) {
            FFile = OpenAsItLies(FCalls, path, HoldAccess, FILE_SHARE_READ);
            FReadOnly = true;
        }
        if (!FFile) {
            return ::GetLastError();
        }
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (DWORD error = AttributesOf(FFile.Get(), info); error != ERROR_SUCCESS) {
            return error;
        }
        FAttributes = info.FileAttributes | (FReadOnly ? FILE_ATTRIBUTE_READONLY : 0);
        if (DWORD refusal = StagedCopyRefusal(info.FileAttributes, info.ReparseTag);
            refusal != ERROR_SUCCESS) {
            return refusal;
        }
        if ((info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FReadOnly = true;
            return SetAttributes(FFile.Get(), FAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        return ERROR_SUCCESS;
    }

    HANDLE Get() const noexcept { return FFile.Get(); }

    // A staged copy that has the rules already is left as it is.
    DWORD GiveRules(const Descriptor& rules) {
        DWORD error = AccessRulesOf(FCalls, FFile.Get(), FOwnRules);
        if (error == ERROR_SUCCESS && FOwnRules != rules) {
            error = GiveAccessRules(FCalls, FFile.Get(), rules);
            FRulesGiven = error == ERROR_SUCCESS;
        }
        return KeepsNoRules(error) ? ERROR_SUCCESS : error;
    }

    // Renames the held file itself to target, whatever name it has meanwhile, replacing what is there.
    DWORD RenameTo(const std::string& target) {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, nullptr, 0);
        if (length <= 0) {
            return ::GetLastError();
        }
        // The name follows the structure; its terminating null is counted in the allocation, not the length.
        std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                          static_cast<std::size_t>(length) * sizeof(WCHAR));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = TRUE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
        ::MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, info->FileName, length);
        DWORD error = Outcome(::SetFileInformationByHandle(FFile.Get(), FileRenameInfo, info,
                                                           static_cast<DWORD>(buffer.size())));
        FRenamed = error == ERROR_SUCCESS;
        return error;
    }

    HeldStagedCopy(const HeldStagedCopy&) = delete;
    HeldStagedCopy& operator=(const HeldStagedCopy&) = delete;
    ~HeldStagedCopy() {
        if (!FFile || FRenamed) {
            return;
        }
        if (FRulesGiven) {
            GiveAccessRules(FCalls, FFile.Get(), FOwnRules);
        }
        if (FReadOnly) {
            SetAttributes(FFile.Get(), FAttributes);
        }
    }

private:
    bool ClearReadOnlyByName(const std::string& path) {
        UniqueFile file = OpenAsItLies(FCalls, path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ShareAll);
        FILE_ATTRIBUTE_TAG_INFO info{};
        return file && AttributesOf(file.Get(), info) == ERROR_SUCCESS &&
               (info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
               SetAttributes(file.Get(), info.FileAttributes & ~FILE_ATTRIBUTE_READONLY) == ERROR_SUCCESS;
    }

    IFileCalls& FCalls;
    UniqueFile FFile;
    DWORD FAttributes = 0;
    bool FReadOnly = false;
    bool FRulesGiven = false;
    bool FRenamed = false;
    Descriptor FOwnRules;
};

// What opening the installed file for deletion gives: ERROR_SUCCESS or a sharing violation when the tool may
// delete it, so that a refused rename was somebody holding it, and ERROR_ACCESS_DENIED when it may not.
DWORD ProbeDeletion(IFileCalls& calls, const std::string& installed) {
    UniqueFile file = OpenAsItLies(calls, installed, DELETE, ShareAll);
    return file ? ERROR_SUCCESS : ::GetLastError();
}

} // namespace

IFileCalls& SystemFileCalls() {
    static SystemCalls calls;
    return calls;
}

FileEntry LookUp(const std::string& path) {
    WIN32_FIND_DATAA entry{};
    UniqueFind find(::FindFirstFileA(path.c_str(), &entry));
    if (!find) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
            return {};
        }
        throw Win32Error(error);
    }
    const auto join = [](DWORD high, DWORD low) { return static_cast<unsigned long long>(high) << 32 | low; };
    return {true, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
            join(entry.nFileSizeHigh, entry.nFileSizeLow),
            join(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime)};
}

unsigned long StagedCopyRefusal(unsigned long attributes, unsigned long reparseTag) noexcept {
    // A link, whatever it points at, must never become the installed program.
    const bool link =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
    return link ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
}

bool WorthWaiting(const ReplaceOutcome& outcome) noexcept {
    switch (outcome.Error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        return outcome.AtRename &&
               (outcome.DeleteProbe == ERROR_SUCCESS || outcome.DeleteProbe == ERROR_SHARING_VIOLATION);
    default:
        return false;
    }
}

ReplaceOutcome ReplaceWithStagedCopy(const StagedPaths& paths, const MachineQuery& runs, IFileCalls& calls) {
    InstalledFile installed;
    if (DWORD error = LookAtInstalled(calls, paths.Installed, installed); error != ERROR_SUCCESS) {
        return {error};
    }
    HeldStagedCopy staged(calls);
    DWORD error = staged.Open(paths.Staged);
    if (error == ERROR_SUCCESS) {
        error = StagedImageRefusal(staged.Get(), paths.Staged, paths.Kind, runs);
    }
    if (error == ERROR_SUCCESS && !installed.Exists) {
        error = NewFileRules(paths.Directory, installed.Rules);
    }
    if (error == ERROR_SUCCESS && !installed.Rules.empty()) {
        error = staged.GiveRules(installed.Rules);
    }
    // The content is on disk before the name changes, so that the rename never installs a file whose data
    // is still only in memory.
    if (error == ERROR_SUCCESS) {
        error = Outcome(::FlushFileBuffers(staged.Get()));
    }
    if (error != ERROR_SUCCESS) {
        return {error};
    }
    error = staged.RenameTo(paths.Installed);
    return {error, true,
            error == ERROR_ACCESS_DENIED ? ProbeDeletion(calls, paths.Installed) : ERROR_SUCCESS};
}

} // namespace zal
