#include "core/CommandLine.h"

namespace zal {

namespace {

constexpr char Quote = '"';

bool IsSeparator(unsigned char c) {
    return c >= 0x01 && c <= 0x20;
}

// Where the character at p ends, as CharNextA steps: a lead byte takes the next byte with it unless the line
// ends there.
std::size_t NextChar(std::string_view line, std::size_t p, const MultiByteSettings& mb) {
    if (p + 1 < line.size() && IsLeadByte(static_cast<unsigned char>(line[p]), mb)) {
        return p + 2;
    }
    return p + 1;
}

// Reads one word starting at p and returns where it stopped. The word's length is added to length and, when
// word is given, its bytes are appended to it; both passes walk the line the same way, so the count made
// without a word is exactly what the copy needs.
std::size_t ReadWord(std::string_view line, std::size_t p, const MultiByteSettings& mb, std::size_t& length,
                     std::string* word) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(line[i]); };
    const auto take = [&](std::size_t from, std::size_t to) {
        length += to - from;
        if (word != nullptr) {
            word->append(line.substr(from, to - from));
        }
    };

    // Blanks and empty quote pairs before a word are dropped together, in any order.
    for (;;) {
        if (p < line.size() && IsSeparator(at(p))) {
            p = NextChar(line, p, mb);
        } else if (p + 1 < line.size() && at(p) == Quote && at(p + 1) == Quote) {
            p += 2;
        } else {
            break;
        }
    }

    while (p < line.size() && at(p) > 0x20) {
        if (at(p) == Quote) {
            ++p;
            while (p < line.size() && at(p) != Quote) {
                const std::size_t next = NextChar(line, p, mb);
                take(p, next);
                p = next;
            }
            if (p < line.size()) {
                ++p;
            }
        } else {
            const std::size_t next = NextChar(line, p, mb);
            take(p, next);
            p = next;
        }
    }
    return p;
}

} // namespace

std::string CommandLineArg(std::string_view commandLine, int n, const MultiByteSettings& mb) {
    // The system's command line is a C string; whatever follows a NUL is not part of it.
    commandLine = commandLine.substr(0, commandLine.find('\0'));
    if (n < 1) {
        return {};
    }
    std::size_t p = 0;
    for (int index = 0;; ++index) {
        const std::size_t start = p;
        std::size_t length = 0;
        p = ReadWord(commandLine, start, mb, length, nullptr);
        if (index == n) {
            std::string word;
            word.reserve(length);
            std::size_t copied = 0;
            ReadWord(commandLine, start, mb, copied, &word);
            return word;
        }
        if (length == 0) {
            return {};
        }
    }
}

} // namespace zal
