#pragma once
// Stands in for the window and the process around the update completion: a chosen argument 1, a directory
// of the caller's as the tool's own, and a record of every pause (the waits for held files and the final
// one) and of the close request. Nothing sleeps. Its file calls can answer as Windows does where Wine
// answers otherwise.
#include "app/ProgramImage_win.h"
#include "app/UpdateCompletion.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zal::testkit {

// The system's file calls, with Windows' answers played where Wine gives others: a right that the file's
// access list does not grant, and Windows' order of checks. Everything else goes to the system.
class WindowsFileCalls : public IFileCalls {
public:
    // Rights refused at every open, as an access list that does not grant them refuses them.
    unsigned long RefusedRights = 0;
    // Windows' file systems check access, the read-only attribute included, before sharing: writing to a
    // read-only file is refused with ERROR_ACCESS_DENIED whoever holds it. Wine looks at sharing first.
    bool AccessBeforeSharing = false;

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
    bool GetSecurity(void* file, unsigned long parts, void* descriptor, unsigned long size,
                     unsigned long& needed) override {
        return SystemFileCalls().GetSecurity(file, parts, descriptor, size, needed);
    }
    bool SetSecurity(void* file, unsigned long parts, void* descriptor) override {
        return SystemFileCalls().SetSecurity(file, parts, descriptor);
    }

private:
    bool Refuses(unsigned long access, bool readOnly) const {
        constexpr unsigned long writing = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
        if ((access & RefusedRights) == 0 && !(AccessBeforeSharing && readOnly && (access & writing) != 0)) {
            return false;
        }
        ::SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }
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
