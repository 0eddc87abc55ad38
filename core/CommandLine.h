#pragma once
// The command-line reader: the words of a command line as the system's own programs split them, over byte
// strings in the ANSI code page. Portable: the line and the multi-byte settings come in as arguments.
#include "core/MultiByte.h"

#include <string>
#include <string_view>

namespace zal {

// Argument n (n >= 1) of commandLine, without its quoting; empty when there is none or n < 1. Word 0, the
// program name, is only skipped. A NUL ends the line, as it ends the system's.
std::string CommandLineArg(std::string_view commandLine, int n, const MultiByteSettings& mb);

} // namespace zal
