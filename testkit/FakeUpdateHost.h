#pragma once
// Stands in for the window and the process around the update completion: a chosen argument 1, a directory
// of the caller's as the tool's own, and a record of every pause (the waits for held files and the final
// one) and of the close request. Nothing sleeps. Its file calls can answer as Windows does where Wine
// answers otherwise.
#include "app/ProgramImage_win.h"
#include "app/UpdateCompletion.h"
#include "base/Handles.h"

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zal::testkit {

// The system's file calls, with Windows' answers played where Wine gives others: a right that the file's
// access list does not grant, Windows' order of checks, and owners. Everything else goes to the system.
class WindowsFileCalls : public IFileCalls {
public:
    // Rights refused at every open, as an access list that does not grant them refuses them.
    unsigned long RefusedRights = 0;
    // Windows' file systems check access, the read-only attribute included, before sharing: writing to a
    // read-only file is refused with ERROR_ACCESS_DENIED whoever holds it. Wine looks at sharing first.
    bool AccessBeforeSharing = false;
    // Owners (SIDs as text) that the caller may not name: without SeRestorePrivilege, Windows lets a caller
    // make only its user, or a group of its token that may own objects, the owner of a file, and refuses
    // others with ERROR_INVALID_OWNER.
    std::vector<std::string> Unnameable;

    // Wine gives every file the user as its owner and keeps no other. A file given one here has it, whatever
    // its name meanwhile: the owner goes with the file, as Windows keeps it through a rename.
    void GiveOwner(const std::string& path, const std::string& sid) { FOwners[KeyOf(path)] = sid; }
    std::string OwnerOf(const std::string& path) const {
        const auto found = FOwners.find(KeyOf(path));
        return found != FOwners.end() ? found->second : "<the system's>";
    }

    void* Open(const std::string& path, unsigned long access, unsigned long share,
               unsigned long flags) override {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        const bool readOnly =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (Refuses(access, readOnly)) {
            return INVALID_HANDLE_VALUE;
        }
        return SystemFileCalls().Open(path, access, share, flags);
    }
    void* ReOpen(void* file, unsigned long access) override {
        return Refuses(access, false) ? INVALID_HANDLE_VALUE : SystemFileCalls().ReOpen(file, access);
    }
    // The system's descriptor, with the owner given here in place of the system's.
    bool GetSecurity(void* file, unsigned long parts, void* descriptor, unsigned long size,
                     unsigned long& needed) override {
        const auto owner = FOwners.find(KeyOf(file));
        if ((parts & OWNER_SECURITY_INFORMATION) == 0 || owner == FOwners.end()) {
            return SystemFileCalls().GetSecurity(file, parts, descriptor, size, needed);
        }
        unsigned long length = 0;
        SystemFileCalls().GetSecurity(file, parts, nullptr, 0, length);
        std::vector<char> system(length);
        char* rest = nullptr;
        if (length == 0 || !SystemFileCalls().GetSecurity(file, parts, system.data(), length, length) ||
            !::ConvertSecurityDescriptorToStringSecurityDescriptorA(
                system.data(), SDDL_REVISION_1, parts & ~OWNER_SECURITY_INFORMATION, &rest, nullptr)) {
            return false;
        }
        const std::string sddl = "O:" + owner->second + rest;
        ::LocalFree(rest);
        PSECURITY_DESCRIPTOR made = nullptr;
        ULONG madeLength = 0;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &made,
                                                                    &madeLength)) {
            return false;
        }
        needed = madeLength;
        const bool fits = size >= madeLength;
        if (fits) {
            std::memcpy(descriptor, made, madeLength);
        }
        ::LocalFree(made);
        ::SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
        return fits;
    }
    bool SetSecurity(void* file, unsigned long parts, void* descriptor) override {
        if ((parts & OWNER_SECURITY_INFORMATION) != 0) {
            PSID sid = nullptr;
            BOOL defaulted = FALSE;
            char* text = nullptr;
            if (!::GetSecurityDescriptorOwner(descriptor, &sid, &defaulted) || sid == nullptr ||
                !::ConvertSidToStringSidA(sid, &text)) {
                return false;
            }
            const std::string owner = text;
            ::LocalFree(text);
            if (std::find(Unnameable.begin(), Unnameable.end(), owner) != Unnameable.end()) {
                ::SetLastError(ERROR_INVALID_OWNER);
                return false;
            }
            FOwners[KeyOf(file)] = owner;
            parts &= ~OWNER_SECURITY_INFORMATION;
        }
        return parts == 0 || SystemFileCalls().SetSecurity(file, parts, descriptor);
    }

private:
    // The file's index on its volume, which a rename keeps. Asked of the file alone
    // (FileInternalInformation): GetFileInformationByHandle asks the volume for its serial number too, which
    // 32-bit Wine under emulation does not survive. The tests' files all lie on one volume.
    using FileKey = long long;

    static FileKey KeyOf(void* file) {
        using Query = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
        static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
        IO_STATUS_BLOCK status{};
        LARGE_INTEGER index{};
        query(file, &status, &index, sizeof index, FileInternalInformation);
        return index.QuadPart;
    }
    static FileKey KeyOf(const std::string& path) {
        UniqueFile file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        return KeyOf(file.Get());
    }

    bool Refuses(unsigned long access, bool readOnly) const {
        GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
        ::MapGenericMask(&access, &mapping);
        constexpr unsigned long writing = FILE_WRITE_DATA | FILE_APPEND_DATA;
        if ((access & RefusedRights) == 0 && !(AccessBeforeSharing && readOnly && (access & writing) != 0)) {
            return false;
        }
        ::SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }

    std::map<FileKey, std::string> FOwners;
};

class FakeUpdateHost : public IUpdateHost {
public:
    std::string Argument = "ZAL.exe";
    std::string ExePath;
    MultiByteSettings Mb;
    std::vector<unsigned long> Pauses;
    int Closes = 0;
    // Runs at each pause with its number, from 1: what the rest of the system does while the tool waits.
    std::function<void(std::size_t)> WhilePaused;
    // What this Windows runs: the real system's answer unless a test stands in for another machine.
    MachineQuery Runs = SystemRunsMachine;
    // What keeping out of the VirtualStore gives, as a virtualised process that may not clear its flag would.
    unsigned long VirtualStore = 0;
    // Runs after each lookup of a file, with the path looked up: what other programs do meanwhile.
    std::function<void(const std::string&)> AfterLookUp;
    WindowsFileCalls Files;

    std::string Argument1() override { return Argument; }
    std::string OwnExePath() override { return ExePath; }
    const MultiByteSettings& MultiByte() override { return Mb; }
    bool RunsMachine(std::uint16_t machine) override { return Runs(machine); }
    unsigned long KeepOutOfVirtualStore() override { return VirtualStore; }
    FileEntry LookUp(const std::string& path) override {
        FileEntry entry = zal::LookUp(path);
        if (AfterLookUp) {
            AfterLookUp(path);
        }
        return entry;
    }
    IFileCalls& FileCalls() override { return Files; }
    void Pause(unsigned long milliseconds) override {
        Pauses.push_back(milliseconds);
        if (WhilePaused) {
            WhilePaused(Pauses.size());
        }
    }
    void RequestClose() override { ++Closes; }
};

} // namespace zal::testkit
