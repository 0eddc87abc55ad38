#pragma once
// The update completion behind the window's button: each target that argument 1 names is replaced by its
// staged copy from the tool's own directory, then the tool pauses and asks its window to close. When a
// replacement fails, Win32Error carries the system's text, the staged copy is kept, and neither the pause
// nor the close happens, so the window stays open and the user can press again.
#include "app/FileNames.h"

#include <functional>
#include <string>
#include <string_view>

namespace zal {

// What the completion needs from its surroundings. The window supplies the close request; tests supply a
// directory of their own as the tool's.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;
    virtual std::string Argument1() = 0; // read afresh at every call
    virtual std::string OwnExePath() = 0;
    virtual const MultiByteSettings& MultiByte() = 0;
    virtual void Pause(unsigned long milliseconds) = 0;
    virtual void RequestClose() = 0;
};

// How long a file that another process still holds (ZAL may still be exiting) is waited for: up to LimitMs
// in steps of IntervalMs. A read-only file or a directory in the way is not waited for. Wait is Sleep unless
// a test puts its own.
struct RetryPolicy {
    unsigned long IntervalMs = 100;
    unsigned long LimitMs = 5000;
    std::function<void(unsigned long)> Wait;
};

// Replaces target with its staged copy when argument 1 names it and the staged copy is a file. The installed
// file is either the old one or the whole new one, never a mix; the staged copy is deleted only after.
void StagedReplace(IUpdateHost& host, std::string_view target, const RetryPolicy& retry);

// The button's action: every target in order, then the pause and the close request.
void CompleteUpdate(IUpdateHost& host, const RetryPolicy& retry = RetryPolicy());

// The tool's real surroundings: the process's command line and executable, the current multi-byte settings
// and Sleep. The close request goes to the callback.
class SystemUpdateHost final : public IUpdateHost {
public:
    explicit SystemUpdateHost(std::function<void()> requestClose);
    std::string Argument1() override;
    std::string OwnExePath() override;
    const MultiByteSettings& MultiByte() override;
    void Pause(unsigned long milliseconds) override;
    void RequestClose() override;

private:
    std::function<void()> FRequestClose;
};

} // namespace zal
