#pragma once
// The multi-byte settings of the code pages the tests read names in, written out byte range by byte range
// rather than built by the tool's own rules, so that a fault there cannot hide in the oracle. Portable.
#include "core/MultiByte.h"

#include <initializer_list>
#include <utility>

namespace zal::testkit {

// Multi-byte mode with exactly the given lead-byte ranges (first and last included).
inline MultiByteSettings LeadBytes(std::initializer_list<std::pair<int, int>> ranges) {
    MultiByteSettings mb;
    mb.MultiByteMode = true;
    for (auto [first, last] : ranges) {
        for (int b = first; b <= last; ++b) {
            mb.LeadByteSet[b] = true;
        }
    }
    return mb;
}

inline MultiByteSettings SingleByte() {
    return {};
}

// Japanese: a backslash (0x5C) or a double quote can be the second byte of a character.
inline MultiByteSettings CodePage932() {
    return LeadBytes({{0x81, 0x9F}, {0xE0, 0xFC}});
}

} // namespace zal::testkit
