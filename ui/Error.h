#pragma once
// The tool's errors are exceptions. A Win32Error carries the system's own text for an error code,
// which is what the error box shows; SilentAbort unwinds a handler and shows nothing.
#include <stdexcept>
#include <string>

namespace zal {

class Win32Error : public std::runtime_error {
public:
    explicit Win32Error(unsigned long code);
    unsigned long Code() const noexcept { return FCode; }

private:
    unsigned long FCode;
};

class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return ""; }
};

// The system's message for an error code, in the ANSI code page, without the trailing line break.
std::string SystemErrorText(unsigned long code);

// Throws Win32Error for GetLastError().
[[noreturn]] void ThrowLastError();

} // namespace zal
