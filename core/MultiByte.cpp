#include "core/MultiByte.h"

#include <algorithm>
#include <iterator>

namespace zal {

namespace {

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

} // namespace zal
