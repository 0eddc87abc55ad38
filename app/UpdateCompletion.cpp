#include "app/UpdateCompletion.h"

#include "app/ProcessInputs.h"
#include "app/UpdateFiles.h"
#include "app/UpdatePlan.h"
#include "base/Win32Error.h"

#include <windows.h>

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

void StagedReplace(IUpdateHost& host, std::string_view target, WaitBudget& budget) {
    const MultiByteSettings& mb = host.MultiByte();
    if (!ArgumentNamesTarget(host.Argument1(), target, mb)) {
        return;
    }
    StagedPaths paths = StagedPathsFor(host.OwnExePath(), target, mb);
    if (!FileIsPresent(paths.Staged)) {
        return;
    }
    for (;;) {
        unsigned long error = ReplaceWithStagedCopy(paths);
        if (error == ERROR_SUCCESS) {
            return;
        }
        // Another instance of the tool, pressed at the same time, applied this very update.
        if (error == ERROR_FILE_NOT_FOUND && !FileIsPresent(paths.Staged)) {
            return;
        }
        if (!IsHeldByAnother(error, paths) || !budget.Wait()) {
            throw Win32Error(error);
        }
    }
}

void CompleteUpdate(IUpdateHost& host) {
    WaitBudget budget(host);
    for (std::string_view target : UpdateTargets) {
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

void SystemUpdateHost::Pause(unsigned long milliseconds) {
    ::Sleep(milliseconds);
}

void SystemUpdateHost::RequestClose() {
    if (FRequestClose) {
        FRequestClose();
    }
}

} // namespace zal
