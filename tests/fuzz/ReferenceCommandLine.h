#pragma once
// A second, deliberately plain reader of command-line words, used only to cross-check CommandLineArg: the
// line is cut into characters first, then a three-state machine turns the characters into all of its words.
// It shares no code with the product. Lead bytes are taken from a 256-flag table; an empty table is the
// single-byte case.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zal::reference {

using LeadBytes = std::array<bool, 256>;

// The characters of line, each as (offset, size); a lead byte that is the last byte stands alone.
inline std::vector<std::pair<std::size_t, std::size_t>> SplitCharacters(std::string_view line,
                                                                        const LeadBytes& lead) {
    std::vector<std::pair<std::size_t, std::size_t>> chars;
    std::size_t offset = 0;
    while (offset < line.size()) {
        const bool pair = lead[static_cast<unsigned char>(line[offset])] && offset + 1 < line.size();
        const std::size_t size = pair ? 2 : 1;
        chars.emplace_back(offset, size);
        offset += size;
    }
    return chars;
}

// Every word of line, word 0 first. A NUL ends the line.
inline std::vector<std::string> Words(std::string_view line, const LeadBytes& lead) {
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) {
        line = line.substr(0, nul);
    }

    enum class State { Between, Plain, Quoted };
    State state = State::Between;
    std::vector<std::string> words;
    std::string current;
    const auto chars = SplitCharacters(line, lead);

    for (std::size_t k = 0; k < chars.size(); ++k) {
        const std::string_view ch = line.substr(chars[k].first, chars[k].second);
        const unsigned char first = static_cast<unsigned char>(ch[0]);
        const bool blank = first <= 0x20;
        const bool quote = ch == "\"";

        if (state == State::Between) {
            if (blank) {
                continue;
            }
            if (quote && k + 1 < chars.size() &&
                line.substr(chars[k + 1].first, chars[k + 1].second) == "\"") {
                ++k;
                continue;
            }
            state = State::Plain;
            current.clear();
            // The character starts the word; it is handled below like any other in a word.
        }

        if (state == State::Plain) {
            if (blank) {
                words.push_back(current);
                state = State::Between;
            } else if (quote) {
                state = State::Quoted;
            } else {
                current.append(ch);
            }
        } else if (quote) {
            state = State::Plain;
        } else {
            current.append(ch);
        }
    }
    if (state != State::Between) {
        words.push_back(current);
    }
    return words;
}

// Argument n (n >= 1) by the reference rules; empty when the line has no such word.
inline std::string Argument(std::string_view line, int n, const LeadBytes& lead) {
    if (n < 1) {
        return {};
    }
    const auto words = Words(line, lead);
    return static_cast<std::size_t>(n) < words.size() ? words[static_cast<std::size_t>(n)] : std::string();
}

} // namespace zal::reference
