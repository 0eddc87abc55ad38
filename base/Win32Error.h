#pragma once
// The tool's errors are exceptions. A Win32Error carries the system's own text for an error code,
// which is what the error box shows; SilentAbort unwinds a handler and shows nothing.
#include <stdexcept>
#include <string>
#include <string_view>

namespace zal {

class Win32Error : public std::runtime_error {
public:
    explicit Win32Error(unsigned long code);
    // For a code whose text names a file ("%1 is not a valid Win32 application."): insert takes its place.
    Win32Error(unsigned long code, std::string_view insert);
    unsigned long Code() const noexcept { return FCode; }

private:
    unsigned long FCode;
};

class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return ""; }
};

// What the error box says for the exception being handled: its what(), "" for one that is no std::exception,
// and null for a SilentAbort, which shows nothing. Called from a catch block only: it learns what was thrown
// by throwing it again, and the text lives as long as that catch block.
const char* CurrentErrorMessage() noexcept;

// The system's message for an error code, in the ANSI code page, without the trailing line break.
std::string SystemErrorText(unsigned long code);

// text with each "%1" replaced by insert; the system's texts name their one file that way.
std::string FillInsert(std::string_view text, std::string_view insert);

// What a window that the system will not make, for no reason it tells, is reported as: the usual cause is a
// process that has no desktop to show windows on.
inline constexpr unsigned long WindowSystemUnavailable = 1459; // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION

// Throws Win32Error for GetLastError(), or for whenNone when the failed call left no code: an error box that
// says "Success." tells nobody anything.
[[noreturn]] void ThrowLastError(unsigned long whenNone);

} // namespace zal
