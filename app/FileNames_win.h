#pragma once
// The Windows side of the file rules: the process's command line and executable path, the presence test,
// copy, deletion and pause, and the process-wide multi-byte settings that the path rules read.
#include "app/FileNames.h"

#include <windows.h>

#include <string>

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

// The full path of the tool's executable, however long. Throws Win32Error when the system cannot tell it,
// or when what it tells has no directory or names no real file; no file may be touched then.
std::string OwnExePath();

// True when path names a file (not a directory). Never throws; a failed search is "not present".
bool FileIsPresent(const std::string& path);

enum class PathKind { Missing, File, Directory };

// What path names, from the first entry that FindFirstFileA finds. Unlike FileIsPresent it throws Win32Error
// when the search fails for another reason than a missing name (a path too long for the ANSI calls, a
// directory that cannot be read), so a file that cannot be seen is not taken for an absent one.
PathKind ProbePath(const std::string& path);

// CopyFileA that replaces an existing destination and creates a missing one; the system's outcome.
bool CopyFileOver(const std::string& source, const std::string& destination);

// DeleteFileA; true when the system reports success.
bool RemoveFile(const std::string& path);

// Blocks the calling thread; no messages are processed meanwhile.
void Pause(unsigned long milliseconds);

} // namespace zal
