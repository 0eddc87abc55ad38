#pragma once
// The command-line, path and name rules that decide which installed file is replaced. Pure functions over
// byte strings in the system's ANSI code page; the command line and the multi-byte settings come in as
// arguments, so the rules behave the same under test as in the tool. Positions count from 1; 0 means none.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace zal {

// Whether the ANSI code page has double-byte characters, and which byte values can begin one.
struct MultiByteSettings {
    bool MultiByteMode = false;
    std::array<bool, 256> LeadByteSet{};
};

// What the system reports about its locale, gathered by the Windows layer.
struct LocaleFacts {
    bool IsNT = true;          // GetVersionExA reports platform 2
    unsigned ThreadLocale = 0; // GetThreadLocale; 0 when it reports nothing
    bool DbcsEnabled = false;  // GetSystemMetrics(SM_DBCSENABLED) != 0; looked at off NT only
    std::array<unsigned char, 12> LeadByteRanges{}; // CPINFO::LeadByte of the locale's ANSI code page
};

// Decides the multi-byte settings from the system's facts.
MultiByteSettings DecideMultiByteSettings(const LocaleFacts& facts);

// The settings of one code page, from its CPINFO::LeadByte ranges: multi-byte exactly when it has lead
// bytes. The system writes the command line in its ANSI code page and steps it with that page's lead bytes,
// whatever the thread's locale says.
MultiByteSettings CodePageMultiByteSettings(const std::array<unsigned char, 12>& leadByteRanges);

// The code page named by LOCALE_IDEFAULTANSICODEPAGE's text, or fallback (GetACP) when it is not a number:
// only decimal digits that fit in an unsigned count, up to a NUL; no sign, blank or other byte.
unsigned ParseCodePage(std::string_view text, unsigned fallback);

// Argument n (n >= 1) of commandLine, without its quoting; empty when there is none or n < 1. Word 0, the
// program name, is only skipped. A NUL ends the line, as it ends the system's.
std::string CommandLineArg(std::string_view commandLine, int n, const MultiByteSettings& mb);

// Position (from 1) of the last byte of s that is in delimiters and is not the second byte of a double-byte
// character; 0 when there is none.
std::size_t LastSeparatorIndex(std::string_view delimiters, std::string_view s, const MultiByteSettings& mb);

// The bytes after the last backslash or colon; all of path when it has neither.
std::string FileNamePart(std::string_view path, const MultiByteSettings& mb);

// The bytes up to and including the last backslash or colon; empty when it has neither.
std::string DirectoryPart(std::string_view path, const MultiByteSettings& mb);

// path without the "\\?\" prefix that a program started through such a path gets back as its own path:
// "\\?\C:\dir" gives "C:\dir" and "\\?\UNC\server\share" gives "\\server\share". Any other path unchanged.
std::string WithoutLongPathPrefix(std::string_view path);

// name with its extension replaced by extension (which carries its full stop), or with it appended.
std::string ReplaceExtension(std::string_view name, std::string_view extension, const MultiByteSettings& mb);

// s with A to Z lower-cased; every other byte unchanged.
std::string AsciiLower(std::string_view s);

// Exact equality: same length, same bytes.
bool SameBytes(std::string_view a, std::string_view b) noexcept;

} // namespace zal
