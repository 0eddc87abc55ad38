// Every file call of the update: the look at the installed file, the staged copy held from its check to its
// rename with the security it takes, the lookup of the directory's entries, and the system's calls behind
// the replacement's opens.
#include "app/UpdateFiles.h"

#include "app/ProcessInputs.h"
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
    void* ReOpen(void* file, unsigned long access) override {
        return ::ReOpenFile(file, access, ShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    }
    bool GetSecurity(void* file, unsigned long parts, void* descriptor, unsigned long size,
                     unsigned long& needed) override {
        return ::GetKernelObjectSecurity(file, parts, descriptor, size, &needed);
    }
    bool SetSecurity(void* file, unsigned long parts, void* descriptor) override {
        return ::SetKernelObjectSecurity(file, parts, descriptor);
    }
};

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

// What the replacement keeps of a file's security: its owner and its access list.
constexpr SECURITY_INFORMATION OwnerPart = OWNER_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION ListPart = DACL_SECURITY_INFORMATION;

DWORD SecurityOf(IFileCalls& calls, HANDLE file, Descriptor& security) {
    unsigned long needed = 0;
    calls.GetSecurity(file, OwnerPart | ListPart, nullptr, 0, needed);
    security.resize(needed);
    return needed == 0
               ? ::GetLastError()
               : Outcome(calls.GetSecurity(file, OwnerPart | ListPart, security.data(), needed, needed));
}

// Sets part of security on file as it stands; the access list keeps its protection from inheritance, since
// it is the one another file of the same directory had, and there is nothing to inherit anew.
bool SetSecurityPart(IFileCalls& calls, const UniqueFile& file, SECURITY_INFORMATION part,
                     const Descriptor& security) {
    return calls.SetSecurity(file.Get(), part, const_cast<unsigned char*>(security.data()));
}

PSID OwnerIn(const Descriptor& security) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(const_cast<unsigned char*>(security.data()), &owner, &defaulted);
    return owner;
}

// A descriptor without an owner has none to give.
bool SameOwner(const Descriptor& a, const Descriptor& b) {
    const PSID ownerA = OwnerIn(a);
    const PSID ownerB = OwnerIn(b);
    return ownerA == nullptr || ownerB == nullptr || ::EqualSid(ownerA, ownerB);
}

// The access list of security, with the bits of its control that belong to the list.
PACL ListIn(const Descriptor& security, SECURITY_DESCRIPTOR_CONTROL& bits) {
    auto* descriptor = const_cast<unsigned char*>(security.data());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    bits = control & (SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED);
    return present ? list : nullptr;
}

// The same entries in the same order, protected from inheritance alike.
bool SameList(const Descriptor& a, const Descriptor& b) {
    SECURITY_DESCRIPTOR_CONTROL bitsA = 0;
    SECURITY_DESCRIPTOR_CONTROL bitsB = 0;
    const PACL listA = ListIn(a, bitsA);
    const PACL listB = ListIn(b, bitsB);
    if (bitsA != bitsB || listA == nullptr || listB == nullptr) {
        return bitsA == bitsB && listA == listB;
    }
    return listA->AclSize == listB->AclSize && std::memcmp(listA, listB, listA->AclSize) == 0;
}

// The security that the system gives a file created in directory by this process: the directory's
// inheritable entries, or this process's default list where it has none, and the process's default owner.
// Empty when the system computes no access list at all (a directory without one); the staged copy then keeps
// its own, rather than be open to everybody; empty too on a volume that keeps no rules.
DWORD NewFileSecurity(const std::string& directory, Descriptor& security) {
    constexpr SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityA(directory.c_str(), parts, nullptr, 0, &needed);
    Descriptor parent(needed);
    security.clear();
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
        security.assign(bytes, bytes + length);
    }
    ::DestroyPrivateObjectSecurity(&created);
    return ERROR_SUCCESS;
}

// What the replacement needs to know of the installed file before anything is touched: whether it is there,
// whether the tool may replace it, and its security. It is opened for deletion, sharing everything: a
// sharing violation is a program that holds it (ZAL, still exiting), which waiting mends, and a refusal is a
// right the tool lacks, which it does not. A read-only file is somebody's decision: Windows refuses to
// replace one, some other systems rename over it regardless, so it is refused everywhere. A directory is no
// program to replace.
struct InstalledFile {
    bool Exists = false;
    Descriptor Security; // its owner and access list; empty where there are none to keep
};

DWORD LookAtInstalled(IFileCalls& calls, const std::string& path, InstalledFile& installed) {
    UniqueFile file(
        calls.Open(path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll, FILE_FLAG_BACKUP_SEMANTICS));
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
    const DWORD error = SecurityOf(calls, file.Get(), installed.Security);
    if (KeepsNoRules(error)) {
        installed.Security.clear();
        return ERROR_SUCCESS;
    }
    return error;
}

// What the held staged copy needs itself: read for the check, write for the flush, its attributes, its
// security to compare, and deletion for the rename. The rights to change its access list or its owner are
// asked for apart, and only when it must take another.
constexpr DWORD HoldAccess = GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | FILE_WRITE_ATTRIBUTES;
// What a read-only file still grants of that: everything but writing its data. Windows' file systems refuse
// only FILE_WRITE_DATA and FILE_APPEND_DATA when a read-only file is opened; deleting it is refused only
// when the deletion is asked for.
constexpr DWORD ClaimAccess = GENERIC_READ | DELETE | READ_CONTROL | FILE_WRITE_ATTRIBUTES;

// The staged copy, held open from its check to its rename. What the tool changes on it (its read-only bit,
// its access list, its owner) it changes through handles on the file it holds, and puts back unless the
// file was renamed, so that a staged copy that stays is the one that was staged.
class HeldStagedCopy {
public:
    explicit HeldStagedCopy(IFileCalls& calls) noexcept : FCalls(calls) {}

    // Holds the staged copy, sharing reading only, without its read-only bit. A refusal is what the press
    // reports, with nothing changed; a link is refused before anything is changed.
    DWORD Open(const std::string& path) {
        DWORD error = Hold(path);
        if (error == ERROR_ACCESS_DENIED) {
            error = HoldReadOnly(path);
        }
        return error != ERROR_SUCCESS ? error : LookAtHeld();
    }

    HANDLE Get() const noexcept { return FFile.Get(); }

    // Gives the held copy the access list of wanted, and its owner where the tool may. The right to change
    // either is asked for only when the copy's differs, on another handle of the file held: most staged
    // copies already have the installed file's rules, and a tool that may write a file may often not change
    // its rules. The owner is given only where the tool may name both the wanted owner and the copy's own,
    // which it must be able to put back (without SeRestorePrivilege, only its user and the groups of its
    // token that may own objects, such as Administrators for an elevated administrator); otherwise the copy
    // keeps its owner and the update goes on.
    DWORD TakeSecurity(const Descriptor& wanted) {
        DWORD error = SecurityOf(FCalls, FFile.Get(), FOwn);
        if (error != ERROR_SUCCESS) {
            return KeepsNoRules(error) ? ERROR_SUCCESS : error;
        }
        if (!SameList(FOwn, wanted)) {
            FListHandle.Reset(FCalls.ReOpen(FFile.Get(), WRITE_DAC));
            error = Outcome(FListHandle && SetSecurityPart(FCalls, FListHandle, ListPart, wanted));
            FListGiven = error == ERROR_SUCCESS;
        }
        if (error != ERROR_SUCCESS) {
            return error;
        }
        if (!SameOwner(FOwn, wanted)) {
            FOwnerHandle.Reset(FCalls.ReOpen(FFile.Get(), WRITE_OWNER));
            FOwnerGiven = FOwnerHandle && SetSecurityPart(FCalls, FOwnerHandle, OwnerPart, FOwn) &&
                          SetSecurityPart(FCalls, FOwnerHandle, OwnerPart, wanted);
        }
        return ERROR_SUCCESS;
    }

    // Renames the held file itself to target, whatever name it has meanwhile, replacing what is there.
    DWORD RenameTo(const std::string& target) {
        const std::wstring name = AnsiToWide(target);
        // The name follows the structure; the buffer has room for a terminating null, which is not counted.
        std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(WCHAR));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = TRUE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
        std::memcpy(info->FileName, name.data(), name.size() * sizeof(WCHAR));
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
        if (FOwnerGiven) {
            SetSecurityPart(FCalls, FOwnerHandle, OwnerPart, FOwn);
        }
        if (FListGiven) {
            SetSecurityPart(FCalls, FListHandle, ListPart, FOwn);
        }
        if (FReadOnly) {
            SetAttributes(FFile.Get(), FAttributes);
        }
    }

private:
    DWORD Hold(const std::string& path) {
        FFile.Reset(FCalls.Open(path, HoldAccess, FILE_SHARE_READ, 0));
        return Outcome(static_cast<bool>(FFile));
    }

    UniqueFile Claim(const std::string& path) {
        return UniqueFile(FCalls.Open(path, ClaimAccess, FILE_SHARE_READ, 0));
    }

    // A read-only file refuses to be opened for writing, and Windows' file systems refuse it before they look
    // at sharing, whoever holds the file. So the copy is claimed with the rights that it still grants,
    // sharing reading only: a sharing violation there is somebody who holds it, and is returned with its bit
    // untouched. Only a claimed read-only file has its bit cleared, through the claim, and is then held.
    // Where somebody opens it in the moment between, the bit goes back under a new claim, unless that
    // somebody is another instance of the tool: it holds the copy sharing reading only, so the new claim
    // fails, and it is about to install the copy. A copy that is not read-only keeps the open's refusal.
    DWORD HoldReadOnly(const std::string& path) {
        UniqueFile claim = Claim(path);
        if (!claim) {
            return ::GetLastError();
        }
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (AttributesOf(claim.Get(), info) != ERROR_SUCCESS ||
            (info.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        if (DWORD refusal = StagedCopyRefusal(info.FileAttributes, info.ReparseTag);
            refusal != ERROR_SUCCESS) {
            return refusal;
        }
        if (SetAttributes(claim.Get(), info.FileAttributes & ~FILE_ATTRIBUTE_READONLY) != ERROR_SUCCESS) {
            return ERROR_ACCESS_DENIED;
        }
        claim.Reset();
        const DWORD error = Hold(path);
        if (error != ERROR_SUCCESS) {
            if (UniqueFile again = Claim(path)) {
                SetAttributes(again.Get(), info.FileAttributes);
            }
            return error;
        }
        FReadOnly = true;
        FAttributes = info.FileAttributes;
        return ERROR_SUCCESS;
    }

    // A link is refused; a read-only bit that the open let through (some file systems let a read-only file
    // be opened for writing, and so does Wine run as root) goes through the held handle.
    DWORD LookAtHeld() {
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (DWORD error = AttributesOf(FFile.Get(), info); error != ERROR_SUCCESS) {
            return error;
        }
        if (DWORD refusal = StagedCopyRefusal(info.FileAttributes, info.ReparseTag);
            refusal != ERROR_SUCCESS) {
            return refusal;
        }
        if ((info.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
            return ERROR_SUCCESS;
        }
        FReadOnly = true;
        FAttributes = info.FileAttributes;
        return SetAttributes(FFile.Get(), FAttributes & ~FILE_ATTRIBUTE_READONLY);
    }

    IFileCalls& FCalls;
    UniqueFile FFile;
    DWORD FAttributes = 0;
    bool FReadOnly = false;
    bool FRenamed = false;
    Descriptor FOwn; // the copy's own owner and access list
    UniqueFile FListHandle;
    bool FListGiven = false;
    UniqueFile FOwnerHandle;
    bool FOwnerGiven = false;
};

// What opening the installed file for deletion gives: ERROR_SUCCESS or a sharing violation when the tool may
// delete it, so that a refused rename was somebody holding it, and ERROR_ACCESS_DENIED when it may not.
DWORD ProbeDeletion(IFileCalls& calls, const std::string& installed) {
    UniqueFile file(calls.Open(installed, DELETE, ShareAll, 0));
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
        return outcome.DeleteProbe &&
               (*outcome.DeleteProbe == ERROR_SUCCESS || *outcome.DeleteProbe == ERROR_SHARING_VIOLATION);
    default:
        return false;
    }
}

unsigned long HeldFileError(const ReplaceOutcome& outcome) noexcept {
    return outcome.Error == ERROR_ACCESS_DENIED ? ERROR_SHARING_VIOLATION : outcome.Error;
}

ReplaceOutcome ReplaceWithStagedCopy(const StagedPaths& paths, const MachineQuery& runs, IFileCalls& calls) {
    InstalledFile installed;
    if (DWORD error = LookAtInstalled(calls, paths.Installed, installed); error != ERROR_SUCCESS) {
        return {error, ReplaceStep::Installed, std::nullopt};
    }
    HeldStagedCopy staged(calls);
    DWORD error = staged.Open(paths.Staged);
    if (error == ERROR_SUCCESS) {
        error = StagedImageRefusal(staged.Get(), paths.Staged, paths.Kind, runs);
    }
    if (error == ERROR_SUCCESS && !installed.Exists) {
        error = NewFileSecurity(paths.Directory, installed.Security);
    }
    if (error == ERROR_SUCCESS && !installed.Security.empty()) {
        error = staged.TakeSecurity(installed.Security);
    }
    // The content is on disk before the name changes, so that the rename never installs a file whose data
    // is still only in memory.
    if (error == ERROR_SUCCESS) {
        error = Outcome(::FlushFileBuffers(staged.Get()));
    }
    if (error != ERROR_SUCCESS) {
        return {error, ReplaceStep::Staged, std::nullopt};
    }
    ReplaceOutcome outcome{staged.RenameTo(paths.Installed), ReplaceStep::Rename, std::nullopt};
    if (outcome.Error == ERROR_ACCESS_DENIED) {
        outcome.DeleteProbe = ProbeDeletion(calls, paths.Installed);
    }
    return outcome;
}

} // namespace zal
