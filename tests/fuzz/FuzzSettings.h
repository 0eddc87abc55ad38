#pragma once
// The multi-byte settings the fuzz targets choose from with their first input byte.
#include "core/MultiByte.h"
#include "testkit/CodePages.h"

namespace zal::fuzz {

// Single-byte, code page 932 (0x5C and 0x22 can be second bytes), every high byte a lead byte, and code
// page 936's one range.
inline MultiByteSettings PickSettings(unsigned char selector) {
    switch (selector % 4) {
    case 1:
        return testkit::CodePage932();
    case 2:
        return testkit::LeadBytes({{0x80, 0xFF}});
    case 3:
        return testkit::LeadBytes({{0x81, 0xFE}});
    default:
        return {};
    }
}

inline bool IsLead(const MultiByteSettings& mb, char c) {
    return mb.MultiByteMode && mb.LeadByteSet[static_cast<unsigned char>(c)];
}

} // namespace zal::fuzz
