#pragma once
// Whether the ANSI code page has double-byte characters, and which bytes begin one: decided from what the
// system reports about its locale, and read by the command-line and path rules, which must never split a
// character. Portable: the facts come in as values.
#include <array>

namespace zal {

// Whether the ANSI code page has double-byte characters, and which byte values can begin one.
struct MultiByteSettings {
    bool MultiByteMode = false;
    std::array<bool, 256> LeadByteSet{};
};

// What the system reports about its locale, gathered by the Windows layer.
struct LocaleFacts {
    bool IsNT = true;          // GetVersionExA reports platform 2
    unsigned ThreadLocale = 0; // GetThreadLocale; 0 when it reports nothing
    bool DbcsEnabled = false;  // GetSystemMetrics(SM_DBCSENABLED) != 0; looked at off NT only
    std::array<unsigned char, 12> LeadByteRanges{}; // CPINFO::LeadByte of the locale's ANSI code page
};

// Decides the multi-byte settings from the system's facts.
MultiByteSettings DecideMultiByteSettings(const LocaleFacts& facts);

// The settings of one code page, from its CPINFO::LeadByte ranges: multi-byte exactly when it has lead
// bytes. The system writes the command line in its ANSI code page and steps it with that page's lead bytes,
// whatever the thread's locale says.
MultiByteSettings CodePageMultiByteSettings(const std::array<unsigned char, 12>& leadByteRanges);

// Whether c begins a double-byte character under mb.
inline bool IsLeadByte(unsigned char c, const MultiByteSettings& mb) {
    return mb.MultiByteMode && mb.LeadByteSet[c];
}

} // namespace zal
