#include "core/PathRules.h"

namespace zal {

namespace {

constexpr std::string_view PathDelimiters = "\\:";
constexpr std::string_view ExtensionDelimiters = ".\\:";

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

} // namespace

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
