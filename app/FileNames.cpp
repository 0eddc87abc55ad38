#include "app/FileNames.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace zal {

namespace {

constexpr std::string_view PathDelimiters = "\\:";
constexpr std::string_view ExtensionDelimiters = ".\\:";
constexpr char Quote = '"';

bool IsLeadByte(unsigned char c, const MultiByteSettings& mb) {
    return mb.MultiByteMode && mb.LeadByteSet[c];
}

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

// Whether the byte at position i (from 1) is the second byte of a double-byte character. A byte outside the
// lead-byte set always ends a character, so the run of lead bytes right before i, paired from its start,
// tells whether i is taken by the last of them.
bool IsTrailByte(std::string_view s, std::size_t i, const MultiByteSettings& mb) {
    if (!mb.MultiByteMode || i < 2) {
        return false;
    }
    std::size_t run = 0;
    for (std::size_t j = i - 1; j >= 1 && IsLeadByte(static_cast<unsigned char>(s[j - 1]), mb); --j) {
        ++run;
    }
    return run % 2 == 1;
}

// Primary languages whose locales never use a double-byte code page on the NT family.
bool IsSingleByteLanguage(unsigned language) {
    constexpr unsigned languages[] = {0x00, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x10, 0x13, 0x14, 0x16, 0x1D};
    return std::find(std::begin(languages), std::end(languages), language) != std::end(languages);
}

void AddLeadByteRanges(const std::array<unsigned char, 12>& ranges, MultiByteSettings& mb) {
    for (std::size_t k = 0; k + 1 < ranges.size(); k += 2) {
        const unsigned first = ranges[k];
        const unsigned last = ranges[k + 1];
        if (first == 0 && last == 0) {
            break;
        }
        for (unsigned c = first; c <= last; ++c) {
            mb.LeadByteSet[c] = true;
        }
    }
}

} // namespace

MultiByteSettings DecideMultiByteSettings(const LocaleFacts& facts) {
    MultiByteSettings mb;
    const unsigned locale = facts.ThreadLocale == 0 ? 0x0409u : facts.ThreadLocale;
    const unsigned language = locale & 0x3FFu;
    if (facts.IsNT) {
        if (IsSingleByteLanguage(language)) {
            return mb;
        }
        return CodePageMultiByteSettings(facts.LeadByteRanges);
    } else {
        // The set is only built when the system says it handles double-byte characters, so that it stays
        // empty whenever the mode is off.
        mb.MultiByteMode = facts.DbcsEnabled;
        if (mb.MultiByteMode) {
            AddLeadByteRanges(facts.LeadByteRanges, mb);
        }
    }
    return mb;
}

MultiByteSettings CodePageMultiByteSettings(const std::array<unsigned char, 12>& leadByteRanges) {
    MultiByteSettings mb;
    AddLeadByteRanges(leadByteRanges, mb);
    mb.MultiByteMode = std::find(mb.LeadByteSet.begin(), mb.LeadByteSet.end(), true) != mb.LeadByteSet.end();
    return mb;
}

unsigned ParseCodePage(std::string_view text, unsigned fallback) {
    // The system hands the value over as a C string, so a terminating NUL ends it. Anything but plain decimal
    // digits that fit is not a code page number: a sign, a blank or a trailing letter means the text is not
    // what it should be, and the process's own code page is the safer answer.
    text = text.substr(0, text.find('\0'));
    if (text.empty()) {
        return fallback;
    }
    unsigned value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
    if (error != std::errc() || stop != end) {
        return fallback;
    }
    return value;
}

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

std::size_t LastSeparatorIndex(std::string_view delimiters, std::string_view s, const MultiByteSettings& mb) {
    std::size_t i = s.size();
    while (i >= 1) {
        const char c = s[i - 1];
        if (c != '\0' && delimiters.find(c) != std::string_view::npos) {
            if (!IsTrailByte(s, i, mb)) {
                return i;
            }
            // The lead byte before a trail byte cannot end the search either, so both are passed over.
            i -= 2;
            continue;
        }
        --i;
    }
    return 0;
}

std::string FileNamePart(std::string_view path, const MultiByteSettings& mb) {
    return std::string(path.substr(LastSeparatorIndex(PathDelimiters, path, mb)));
}

std::string DirectoryPart(std::string_view path, const MultiByteSettings& mb) {
    return std::string(path.substr(0, LastSeparatorIndex(PathDelimiters, path, mb)));
}

std::string WithoutLongPathPrefix(std::string_view path) {
    constexpr std::string_view prefix = "\\\\?\\";
    if (path.substr(0, prefix.size()) != prefix) {
        return std::string(path);
    }
    std::string_view rest = path.substr(prefix.size());
    // The system takes "UNC" in any case.
    if (rest.size() >= 4 && AsciiLower(rest.substr(0, 4)) == "unc\\") {
        return "\\\\" + std::string(rest.substr(4));
    }
    return std::string(rest);
}

std::string ReplaceExtension(std::string_view name, std::string_view extension, const MultiByteSettings& mb) {
    // Only a full stop that no backslash or colon follows starts the extension.
    const std::size_t i = LastSeparatorIndex(ExtensionDelimiters, name, mb);
    const std::size_t keep = (i == 0 || name[i - 1] != '.') ? name.size() : i - 1;
    std::string result;
    result.reserve(keep + extension.size());
    result.append(name.substr(0, keep));
    result.append(extension);
    return result;
}

std::string AsciiLower(std::string_view s) {
    std::string result(s);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return result;
}

bool SameBytes(std::string_view a, std::string_view b) noexcept {
    return a == b;
}

} // namespace zal
