#pragma once
// The update completion behind the window's button: each target that argument 1 names is replaced by its
// staged copy from the tool's own directory, then the tool pauses and asks its window to close. When a
// replacement fails, Win32Error carries the system's text, the staged copy is kept, and neither the pause
// nor the close happens, so the window stays open and the user can press again.
#include "app/UpdateFiles.h"
#include "core/MultiByte.h"
#include "core/UpdatePlan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zal {

// What the completion needs from its surroundings. The window supplies the close request; tests supply a
// directory of their own as the tool's, another machine, a virtualised process, and what other programs do
// to the files while the tool looks at them.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;
    virtual std::string Argument1() = 0; // read afresh at every call
    virtual std::string OwnExePath() = 0;
    virtual const MultiByteSettings& MultiByte() = 0;
    // Whether this Windows runs programs built for a COFF machine: a staged copy for another is no update.
    virtual bool RunsMachine(std::uint16_t machine) = 0;
    // ERROR_SUCCESS once none of the process's file operations can be redirected to the VirtualStore.
    virtual unsigned long KeepOutOfVirtualStore() = 0;
    // What the directory says of path (LookUp).
    virtual FileEntry LookUp(const std::string& path) = 0;
    // The replacement's opens and security calls (SystemFileCalls).
    virtual IFileCalls& FileCalls() = 0;
    virtual void Pause(unsigned long milliseconds) = 0;
    virtual void RequestClose() = 0;
};

// The wait for files that another process still holds: RetryLimitMs in all for one press, however many steps
// and files it is spread over, spent in steps of RetryIntervalMs through the host's pause.
class WaitBudget {
public:
    explicit WaitBudget(IUpdateHost& host) noexcept : FHost(host) {}
    // Waits one step; false, without waiting, once the budget is spent.
    bool Wait();

private:
    IUpdateHost& FHost;
    unsigned long FWaitedMs = 0;
};

// Replaces target with its staged copy when argument 1 names it and the staged copy is a file: the staged
// copy is checked, flushed to disk and renamed over the installed file in one step, so the installed file is
// the old one or the whole new one, never a mix, and no disk space is needed. Nothing is touched while any
// write of the process could still go to the VirtualStore. The staged copy is looked up once: a staged copy
// that another instance of the tool applied meanwhile leaves nothing to do; one that vanished otherwise is
// an error. Errors name the staged copy where the system's text names a file; when the wait for a file
// somebody holds runs out, the error says that the file is in use, and names the file held (HeldFileError).
void StagedReplace(IUpdateHost& host, const UpdateTarget& target, WaitBudget& budget);

// The button's action: every target in order, then the pause and the close request.
void CompleteUpdate(IUpdateHost& host);

// The tool's real surroundings: the process's command line and executable, the current multi-byte settings
// and Sleep, in steps between which the window's thread looks at its message queue without taking or
// delivering any message, so that the system never takes the frozen window for a hung one. The close
// request goes to the callback.
class SystemUpdateHost final : public IUpdateHost {
public:
    explicit SystemUpdateHost(std::function<void()> requestClose);
    std::string Argument1() override;
    std::string OwnExePath() override;
    const MultiByteSettings& MultiByte() override;
    bool RunsMachine(std::uint16_t machine) override;
    unsigned long KeepOutOfVirtualStore() override;
    FileEntry LookUp(const std::string& path) override;
    IFileCalls& FileCalls() override;
    void Pause(unsigned long milliseconds) override;
    void RequestClose() override;

private:
    std::function<void()> FRequestClose;
};

} // namespace zal
