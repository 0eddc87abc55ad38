#pragma once
// The multi-byte settings the fuzz targets choose from with their first input byte.
#include "app/FileNames.h"

namespace zal::fuzz {

inline MultiByteSettings LeadRange(MultiByteSettings mb, int first, int last) {
    mb.MultiByteMode = true;
    for (int c = first; c <= last; ++c)
        mb.LeadByteSet[c] = true;
    return mb;
}

// Single-byte, code page 932 (0x5C and 0x22 can be second bytes), every high byte a lead byte, and code
// page 936's one range.
inline MultiByteSettings PickSettings(unsigned char selector) {
    switch (selector % 4) {
    case 1:
        return LeadRange(LeadRange({}, 0x81, 0x9F), 0xE0, 0xFC);
    case 2:
        return LeadRange({}, 0x80, 0xFF);
    case 3:
        return LeadRange({}, 0x81, 0xFE);
    default:
        return {};
    }
}

inline bool IsLead(const MultiByteSettings& mb, char c) {
    return mb.MultiByteMode && mb.LeadByteSet[static_cast<unsigned char>(c)];
}

} // namespace zal::fuzz
