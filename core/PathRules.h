#pragma once
// The path and name rules that find the tool's directory and the names in it. Pure functions over byte
// strings in the system's ANSI code page; the multi-byte settings come in as arguments, so the rules behave
// the same under test as in the tool. Positions count from 1; 0 means none.
#include "core/MultiByte.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace zal {

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
