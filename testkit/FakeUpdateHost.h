#pragma once
// Stands in for the window and the process around the update completion: a chosen argument 1, a directory
// of the caller's as the tool's own, and a record of every pause (the waits for held files and the final
// one) and of the close request. Nothing sleeps.
#include "app/ProgramImage_win.h"
#include "app/UpdateCompletion.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zal::testkit {

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
    void Pause(unsigned long milliseconds) override {
        Pauses.push_back(milliseconds);
        if (WhilePaused) {
            WhilePaused(Pauses.size());
        }
    }
    void RequestClose() override { ++Closes; }
};

} // namespace zal::testkit
