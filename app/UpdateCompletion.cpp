#include "app/UpdateCompletion.h"

#include "app/ProcessInputs.h"
#include "app/ProgramImage_win.h"
#include "app/UpdateFiles.h"
#include "app/VirtualStore.h"
#include "core/UpdatePlan.h"
#include "base/Win32Error.h"

#include <windows.h>

#include <optional>
#include <utility>

namespace zal {

bool WaitBudget::Wait() {
    if (FWaitedMs >= RetryLimitMs) {
        return false;
    }
    FHost.Pause(RetryIntervalMs);
    FWaitedMs += RetryIntervalMs;
    return true;
}

void StagedReplace(IUpdateHost& host, const UpdateTarget& target, WaitBudget& budget) {
    const MultiByteSettings& mb = host.MultiByte();
    if (!ArgumentNamesTarget(host.Argument1(), target.Name, mb)) {
        return;
    }
    std::optional<StagedPaths> paths = StagedPathsFor(host.OwnExePath(), target, mb);
    if (!paths) {
        throw Win32Error(ERROR_BAD_PATHNAME);
    }
    // Before the first look: a virtualised process would see, and write, the VirtualStore's copies.
    if (unsigned long error = host.KeepOutOfVirtualStore(); error != ERROR_SUCCESS) {
        throw Win32Error(error);
    }
    const FileEntry staged = host.LookUp(paths->Staged);
    if (!staged.IsFile()) {
        return;
    }
    const std::string stagedName = FileNamePart(paths->Staged, mb);
    const MachineQuery runs = [&host](std::uint16_t machine) { return host.RunsMachine(machine); };
    for (;;) {
        const ReplaceOutcome outcome = ReplaceWithStagedCopy(*paths, runs, host.FileCalls());
        if (outcome.Error == ERROR_SUCCESS) {
            return;
        }
        // The staged copy went after the tool saw it. If the installed file now carries its stamp, another
        // instance of the tool, pressed at the same time, renamed this very update into place. Otherwise
        // somebody took the update away (ZAL, or an antivirus), and the old program is still installed.
        if (outcome.Error == ERROR_FILE_NOT_FOUND && host.LookUp(paths->Installed).SameStamp(staged)) {
            return;
        }
        if (!WorthWaiting(outcome)) {
            throw Win32Error(outcome.Error, stagedName);
        }
        if (!budget.Wait()) {
            const std::string& held = outcome.At == ReplaceStep::Staged ? paths->Staged : paths->Installed;
            throw Win32Error(HeldFileError(outcome), FileNamePart(held, mb));
        }
    }
}

void CompleteUpdate(IUpdateHost& host) {
    WaitBudget budget(host);
    for (const UpdateTarget& target : UpdateTargets) {
        StagedReplace(host, target, budget);
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

bool SystemUpdateHost::RunsMachine(std::uint16_t machine) {
    return SystemRunsMachine(machine);
}

unsigned long SystemUpdateHost::KeepOutOfVirtualStore() {
    return zal::KeepOutOfVirtualStore();
}

FileEntry SystemUpdateHost::LookUp(const std::string& path) {
    return zal::LookUp(path);
}

IFileCalls& SystemUpdateHost::FileCalls() {
    return SystemFileCalls();
}

// Windows takes a window whose thread has not looked at its message queue for 5 s for one that stopped
// responding: it paints a ghost of it and offers the user to end the tool, which would then exit with
// another code than 0. A press may wait 5 s for a held file and then pause 3 s, so the pause looks at the
// queue every QueueLookMs. Looking processes nothing: PM_NOREMOVE leaves every message in the queue, and
// the filter PM_QS_POSTMESSAGE without PM_QS_SENDMESSAGE keeps PeekMessage from delivering messages that
// other threads send, which it otherwise does before it looks (Wine delivers them all the same). No window
// procedure runs, so the window stays frozen until the press is over and the button cannot be pressed
// again in the meantime.
void SystemUpdateHost::Pause(unsigned long milliseconds) {
    constexpr unsigned long QueueLookMs = 100;
    for (unsigned long left = milliseconds; left > 0;) {
        unsigned long step = left < QueueLookMs ? left : QueueLookMs;
        ::Sleep(step);
        left -= step;
        MSG message;
        ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE);
    }
}

void SystemUpdateHost::RequestClose() {
    if (FRequestClose) {
        FRequestClose();
    }
}

} // namespace zal
