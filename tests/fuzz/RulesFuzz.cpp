// Invariants of the command-line, path and name rules on arbitrary bytes and multi-byte settings.
#include "core/CodePage.h"
#include "core/CommandLine.h"
#include "core/MultiByte.h"
#include "core/PathRules.h"
#include "tests/fuzz/FuzzSettings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace zal;

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Settings from the input: the fixed ones, or whatever DecideMultiByteSettings makes of arbitrary facts.
MultiByteSettings TakeSettings(std::string_view& input) {
    const unsigned char selector = static_cast<unsigned char>(input[0]);
    input.remove_prefix(1);
    if (selector < 0xC0 || input.size() < 15) {
        return fuzz::PickSettings(selector);
    }

    LocaleFacts facts;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(input[k]); };
    facts.IsNT = (byte(0) & 1) != 0;
    facts.DbcsEnabled = (byte(0) & 2) != 0;
    facts.ThreadLocale = byte(1) | byte(2) << 8 | (byte(0) & 0xF0u) << 12;
    std::memcpy(facts.LeadByteRanges.data(), input.data() + 3, facts.LeadByteRanges.size());
    input.remove_prefix(15);

    const MultiByteSettings mb = DecideMultiByteSettings(facts);
    bool anyLead = false;
    for (bool lead : mb.LeadByteSet) {
        anyLead = anyLead || lead;
    }
    Require(mb.MultiByteMode || !anyLead);
    if (facts.IsNT) {
        Require(mb.MultiByteMode == anyLead);
    }
    return mb;
}

// The string walked forwards as CharNextA walks it, a lead byte taking the next byte with it; the backward
// trail-byte rule has to find the same delimiters. Gives the position of the last one, 0 when there is none.
std::size_t LastDelimiterCharacter(std::string_view delimiters, std::string_view s,
                                   const MultiByteSettings& mb) {
    std::size_t found = 0;
    for (std::size_t p = 0; p < s.size();) {
        if (fuzz::IsLead(mb, s[p]) && p + 1 < s.size()) {
            p += 2;
            continue;
        }
        if (s[p] != '\0' && delimiters.find(s[p]) != std::string_view::npos) {
            found = p + 1;
        }
        ++p;
    }
    return found;
}

bool DelimitersAreLeadBytes(std::string_view delimiters, const MultiByteSettings& mb) {
    for (char c : delimiters) {
        if (fuzz::IsLead(mb, c)) {
            return true;
        }
    }
    return false;
}

void CheckArgument(std::string_view line, int n, const MultiByteSettings& mb) {
    const std::string arg = CommandLineArg(line, n, mb);
    Require(n >= 1 || arg.empty());
    Require(arg.size() <= line.size());
    Require(arg.find('\0') == std::string::npos);
    // A double quote only ever gets into an argument as the second byte of a double-byte character.
    for (std::size_t p = 0; p < arg.size();) {
        if (fuzz::IsLead(mb, arg[p]) && p + 1 < arg.size()) {
            p += 2;
        } else {
            Require(arg[p] != '"');
            ++p;
        }
    }
}

void CheckPathRules(std::string_view s, const MultiByteSettings& mb) {
    const std::size_t i = LastSeparatorIndex("\\:", s, mb);
    Require(i <= s.size());
    Require(i == 0 || s[i - 1] == '\\' || s[i - 1] == ':');
    if (!DelimitersAreLeadBytes(".\\:", mb)) {
        Require(i == LastDelimiterCharacter("\\:", s, mb));
    }
    Require(DirectoryPart(s, mb) + FileNamePart(s, mb) == s);
    Require(DirectoryPart(s, mb).size() == i);

    const std::string replaced = ReplaceExtension(s, ".upd", mb);
    Require(replaced.size() >= 4 && replaced.compare(replaced.size() - 4, 4, ".upd") == 0);
    const std::size_t kept = replaced.size() - 4;
    Require(s.substr(0, kept) == std::string_view(replaced).substr(0, kept));
    if (kept < s.size()) {
        Require(s[kept] == '.' && LastSeparatorIndex(".\\:", s, mb) == kept + 1);
        if (!DelimitersAreLeadBytes(".\\:", mb)) {
            Require(LastDelimiterCharacter(".\\:", s, mb) == kept + 1);
        }
    } else {
        const std::size_t e = LastSeparatorIndex(".\\:", s, mb);
        Require(e == 0 || s[e - 1] != '.');
    }
}

void CheckLower(std::string_view s) {
    const std::string lower = AsciiLower(s);
    Require(lower.size() == s.size());
    Require(AsciiLower(lower) == lower);
    for (std::size_t k = 0; k < s.size(); ++k) {
        const bool upper = s[k] >= 'A' && s[k] <= 'Z';
        Require(upper ? lower[k] == s[k] + 32 : lower[k] == s[k]);
    }
    Require(SameBytes(lower, AsciiLower(std::string(s))));
    Require(!SameBytes(lower, std::string(lower) + 'x'));
}

void CheckCodePage(std::string_view text) {
    constexpr unsigned fallback = 0xDEADBEEF;
    std::string_view digits = text.substr(0, text.find('\0'));
    unsigned long long value = 0;
    bool number = !digits.empty();
    for (char c : digits) {
        number = number && c >= '0' && c <= '9' && value <= 0xFFFFFFFFull;
        value = number ? value * 10 + static_cast<unsigned>(c - '0') : 0;
    }
    number = number && value <= 0xFFFFFFFFull;
    const unsigned parsed = ParseCodePage(text, fallback);
    Require(number ? parsed == value : parsed == fallback);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const int n = static_cast<unsigned char>(input[0]) % 12 - 1;
    input.remove_prefix(1);
    const MultiByteSettings mb = TakeSettings(input);

    CheckArgument(input, n, mb);
    CheckPathRules(input, mb);
    CheckLower(input);
    CheckCodePage(input);
    return 0;
}
