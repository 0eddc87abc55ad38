#pragma once
// The process's inputs, as the system gives them: its command line, its executable's path, and the
// multi-byte settings of the thread's locale that the path rules read; and its ANSI paths as the calls that
// take only wide names need them.
#include "core/MultiByte.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace zal {

// The multi-byte settings in force. Decided at start-up and again by RedecideMultiByteSettings.
const MultiByteSettings& CurrentMultiByteSettings();

// Decides the settings from the thread's locale. The application calls it once before any window exists.
void DecideCurrentMultiByteSettings();

// Sets the thread locale to the user's default and decides again; for WM_WININICHANGE and "TaskbarCreated".
void RedecideMultiByteSettings();

// What the system reports about its locale, as DecideMultiByteSettings takes it.
LocaleFacts GatherLocaleFacts();

// The default ANSI code page of the thread's locale, or GetACP's when the locale names none.
unsigned LocaleAnsiCodePage();

// The process's whole command line, program name first.
std::string ProcessCommandLine();

// Argument n (n >= 1) of the process's command line, read afresh and stepped with the lead bytes of the
// ANSI code page that the system wrote it in.
std::string CommandLineArg(int n);

// The full path of a loaded module (null: the executable), however long. Throws Win32Error when the system
// cannot tell it.
std::string ModuleFilePath(HMODULE module);

// The tool's path as the rules read it, from the path the system gave for the executable: a "\\?\" prefix,
// which the system gives back to a program started through one, goes. Throws Win32Error when what is left
// has no directory or names no real file; no file may be touched then.
std::string OwnExePathFrom(std::string_view modulePath);

// The full path of the tool's executable, however long, as OwnExePathFrom makes it. Throws Win32Error when
// the system cannot tell it.
std::string OwnExePath();

// An ANSI path or name, in the code page the system reads the ANSI calls' names in, as UTF-16; empty when
// the system cannot convert it.
std::wstring AnsiToWide(const std::string& ansi);

} // namespace zal
