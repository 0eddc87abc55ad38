#pragma once
// Whether a file is a complete Windows program image of the kind that is to be installed, decided from its
// leading bytes and its size alone. Portable: the Windows layer reads the bytes, so the rule can be tested
// natively and fuzzed. A staged copy cut short by an interrupted download or a full disk, a text file, or a
// DLL in the place of the program fails it; data after the last section (an installer's or a signature's
// overlay) does not.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace zal {

enum class ImageKind { Program, Library };

// Whether this Windows runs programs built for a COFF machine (IMAGE_FILE_MACHINE_*) in user mode.
using MachineQuery = std::function<bool(std::uint16_t machine)>;

// The COFF machines that the machine rule knows without asking.
inline constexpr std::uint16_t MachineI386 = 0x014C;
inline constexpr std::uint16_t MachineAmd64 = 0x8664;
inline constexpr std::uint16_t MachineArm64 = 0xAA64;

// What the system says about running one machine's programs.
struct MachineSupport {
    std::uint16_t Native = 0; // its own machine (IsWow64Process2, or GetNativeSystemInfo before it)
    // Whether that machine's code runs in user mode (GetMachineTypeAttributes); empty where the system cannot
    // say: before Windows 11, or when the call fails.
    std::optional<bool> UserMode;
};

// Whether a program built for machine runs on a system that says what support says. The system's own answer
// decides where it has one: it knows its emulators (x64 on ARM64) and the ones it lacks (Server Core without
// WoW64). Without one, x86 runs on x86, x64 and ARM64 Windows, x64 and ARM64 on their own kind only, and any
// other machine nowhere: a staged copy that might not start is no update, since nothing is left to go back
// to.
bool MachineRuns(std::uint16_t machine, const MachineSupport& support);

// How many leading bytes of a file the rule needs: the headers and the section table of any real program
// fit. A file whose headers reach further is not taken for a program.
inline constexpr std::size_t ImageHeadBytes = 64 * 1024;

enum class ImageVerdict {
    Complete,   // a whole image of the expected kind
    NotAnImage, // no program at all, or headers no linker writes
    Incomplete, // the headers point past the end of the file: the file was cut short
    WrongKind,  // a whole image, but a DLL for a program or a program for a DLL
};

struct ImageCheck {
    ImageVerdict Verdict = ImageVerdict::NotAnImage;
    // The image carries a certificate table (an Authenticode signature), whose match with the bytes is for
    // the system to verify. Only set on a complete image.
    bool Signed = false;
    // The COFF machine the image was built for (IMAGE_FILE_MACHINE_*). Only set on a complete image.
    std::uint16_t Machine = 0;
};

// head is the file's first bytes: all of it, or at least ImageHeadBytes; fileSize is its whole size. Reads
// stay inside head, and every offset and size is added in 64 bits, so hostile values cannot overflow.
ImageCheck CheckProgramImage(std::span<const unsigned char> head, std::uint64_t fileSize, ImageKind expected);

// The error that refuses a signed staged copy for WinVerifyTrust's result, or 0 when the result lets it in.
// Its bytes do not match the signature, the signature cannot be read, or the system says the signer is
// revoked or distrusted: ERROR_FILE_CORRUPT. A system error in the place of a result (HRESULT_FROM_WIN32,
// as when wintrust.dll cannot be loaded) is that error's own code. Results about a trust that is merely
// missing (an untrusted or test root, an expired or unusable certificate, a broken chain, a revocation state
// that an offline machine cannot know, a time stamp) let it in: whom to trust is the machine's policy, not
// the tool's, and an offline machine must still update.
std::uint32_t SignatureRefusal(std::uint32_t trustResult);

} // namespace zal
