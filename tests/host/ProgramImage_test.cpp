#include "core/ProgramImage.h"
#include "testkit/ProgramMaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

namespace zal {
namespace {

using testkit::MakeProgram;
using testkit::ProgramShape;
using testkit::PutU32;
namespace made = testkit::made;

// The rule as the tool applies it: the file's first ImageHeadBytes bytes, or all of a shorter file.
ImageCheck Check(const std::string& file, ImageKind expected) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    return CheckProgramImage({bytes, std::min(file.size(), ImageHeadBytes)}, file.size(), expected);
}

void PutU16(std::string& image, std::size_t offset, unsigned value) {
    image[offset] = static_cast<char>(value);
    image[offset + 1] = static_cast<char>(value >> 8);
}

struct ImageCase {
    const char* Name;
    std::function<std::string()> File;
    ImageKind Expected;
    ImageVerdict Verdict;
    bool Signed = false;
    std::uint16_t Machine = 0; // recorded for a complete image only
};

std::string Program(std::size_t size = 200 * 1024) {
    return MakeProgram({.Size = size});
}

// A program whose certificate table, at the file's end, holds size bytes.
std::string WithCertificateTable(std::string image, std::size_t offset, std::size_t size) {
    PutU32(image, made::CertificateEntryOffset(false), static_cast<std::uint32_t>(offset));
    PutU32(image, made::CertificateEntryOffset(false) + 4, static_cast<std::uint32_t>(size));
    return image;
}

const ImageCase Cases[] = {
    {"Program", [] { return Program(); }, ImageKind::Program, ImageVerdict::Complete, false, MachineI386},
    {"Library", [] { return MakeProgram({.Kind = ImageKind::Library}); }, ImageKind::Library,
     ImageVerdict::Complete, false, MachineI386},
    {"Program64", [] { return MakeProgram({.Pe32Plus = true}); }, ImageKind::Program, ImageVerdict::Complete,
     false, MachineAmd64},
    {"Library64", [] { return MakeProgram({.Kind = ImageKind::Library, .Pe32Plus = true}); },
     ImageKind::Library, ImageVerdict::Complete, false, MachineAmd64},
    // Whether the machine runs here is the system's to say: the image is whole whatever it names.
    {"ProgramArm64", [] { return MakeProgram({.Pe32Plus = true, .Machine = MachineArm64}); },
     ImageKind::Program, ImageVerdict::Complete, false, MachineArm64},
    {"Empty", [] { return std::string(); }, ImageKind::Program, ImageVerdict::Incomplete},
    {"CutInHalf", [] { return Program().substr(0, 100 * 1024); }, ImageKind::Program,
     ImageVerdict::Incomplete},
    {"HeadersOnly", [] { return Program().substr(0, 1024); }, ImageKind::Program, ImageVerdict::Incomplete},
    {"CutInTheHeaders", [] { return Program().substr(0, 300); }, ImageKind::Program,
     ImageVerdict::Incomplete},
    {"CutBeforeThePeHeader", [] { return Program().substr(0, 100); }, ImageKind::Program,
     ImageVerdict::Incomplete},
    {"LastByteMissing", [] { return Program().substr(0, 200 * 1024 - 1); }, ImageKind::Program,
     ImageVerdict::Incomplete},
    {"Text", [] { return std::string(5000, 'a') + "\r\nZAL version 2\r\n"; }, ImageKind::Program,
     ImageVerdict::NotAnImage},
    {"MzAlone", [] { return std::string("MZ") + std::string(5000, '\0'); }, ImageKind::Program,
     ImageVerdict::NotAnImage},
    {"LibraryForTheProgram", [] { return MakeProgram({.Kind = ImageKind::Library}); }, ImageKind::Program,
     ImageVerdict::WrongKind},
    {"ProgramForTheLibrary", [] { return Program(); }, ImageKind::Library, ImageVerdict::WrongKind},
    // A cut DLL is reported as cut, not as of the wrong kind.
    {"CutLibraryForTheProgram", [] { return MakeProgram({.Kind = ImageKind::Library}).substr(0, 1500); },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"Overlay1MiB", [] { return MakeProgram({.Overlay = 1024 * 1024}); }, ImageKind::Program,
     ImageVerdict::Complete, false, MachineI386},
    {"OverlayCutShort", [] { return MakeProgram({.Overlay = 1024 * 1024}).substr(0, 900 * 1024); },
     ImageKind::Program, ImageVerdict::Complete, false, MachineI386},
    {"SectionPastTheEnd",
     [] {
         std::string image = Program();
         PutU32(image, made::LastSectionHeaderOffset(false) + 16, 300 * 1024);
         return image;
     },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"SectionAtAHugeOffset",
     [] {
         std::string image = Program();
         PutU32(image, made::LastSectionHeaderOffset(false) + 20, 0xFFFFFFFF);
         return image;
     },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"SectionOfHugeSize",
     [] {
         std::string image = Program();
         PutU32(image, made::LastSectionHeaderOffset(false) + 16, 0xFFFFFFFF);
         PutU32(image, made::LastSectionHeaderOffset(false) + 20, 0xFFFFFFFF);
         return image;
     },
     ImageKind::Program, ImageVerdict::Incomplete},
    // A section without raw data (uninitialised data) has no bytes in the file, wherever it says they lie.
    {"EmptySectionAnywhere",
     [] {
         std::string image = Program();
         PutU32(image, made::LastSectionHeaderOffset(false) + 16, 0);
         PutU32(image, made::LastSectionHeaderOffset(false) + 20, 0xFFFFFFFF);
         return image;
     },
     ImageKind::Program, ImageVerdict::Complete, false, MachineI386},
    {"HeadersLargerThanTheFile",
     [] {
         std::string image = Program();
         PutU32(image, made::OptionalOffset + 60, 300 * 1024);
         return image;
     },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"SignedWhole", [] { return WithCertificateTable(Program(), 200 * 1024 - 2048, 2048); },
     ImageKind::Program, ImageVerdict::Complete, true, MachineI386},
    {"CertificateTablePastTheEnd", [] { return WithCertificateTable(Program(), 200 * 1024 - 2048, 2049); },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"CertificateTableAtAHugeOffset", [] { return WithCertificateTable(Program(), 0xFFFFFFFF, 0xFFFFFFFF); },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"SignedCutShort",
     [] { return WithCertificateTable(Program(), 200 * 1024 - 2048, 2048).substr(0, 200 * 1024 - 100); },
     ImageKind::Program, ImageVerdict::Incomplete},
    {"NotExecutable",
     [] {
         std::string image = Program();
         PutU16(image, made::CharacteristicsOffset, 0x0100);
         return image;
     },
     ImageKind::Program, ImageVerdict::NotAnImage},
    {"RomImageMagic",
     [] {
         std::string image = Program();
         PutU16(image, made::OptionalOffset, 0x107);
         return image;
     },
     ImageKind::Program, ImageVerdict::NotAnImage},
    {"OptionalHeaderTooShort",
     [] {
         std::string image = Program();
         PutU16(image, made::PeOffset + 4 + 16, 64);
         return image;
     },
     ImageKind::Program, ImageVerdict::NotAnImage},
    // With fewer data directories the certificate entry is not read: its bytes belong to the sections.
    {"NoCertificateDirectory",
     [] {
         std::string image = WithCertificateTable(Program(), 0xFFFFFFFF, 0xFFFFFFFF);
         PutU32(image, made::OptionalOffset + 92, 4);
         return image;
     },
     ImageKind::Program, ImageVerdict::Complete, false, MachineI386},
    {"NotPe",
     [] {
         std::string image = Program();
         image[made::PeOffset + 1] = 'X';
         return image;
     },
     ImageKind::Program, ImageVerdict::NotAnImage},
};

class ProgramImageRule : public testing::TestWithParam<ImageCase> {};

TEST_P(ProgramImageRule, DecidesFromTheHeadersAndTheSize) {
    const ImageCheck check = Check(GetParam().File(), GetParam().Expected);
    EXPECT_EQ(check.Verdict, GetParam().Verdict);
    EXPECT_EQ(check.Signed, GetParam().Signed);
    EXPECT_EQ(check.Machine, GetParam().Machine);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramImageRule, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct HostileCase {
    const char* Name;
    std::size_t Offset;
    int Bytes; // 2 or 4
    std::uint32_t Value;
    ImageVerdict Verdict;
};

// Values no linker writes, in a file of 200 KiB whose first 64 KiB are read: the headers they describe lie
// outside those bytes or past the file's end, and none may be read or added up wrongly.
class HostileHeaders : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileHeaders, AreRefusedWithoutReadingOutside) {
    const HostileCase& c = GetParam();
    std::string image = Program();
    if (c.Bytes == 2) {
        PutU16(image, c.Offset, c.Value);
    } else {
        PutU32(image, c.Offset, c.Value);
    }
    EXPECT_EQ(Check(image, ImageKind::Program).Verdict, c.Verdict);
    // Read from a head that is exactly as long as the file, the same headers are a file cut short.
    image.resize(4096);
    EXPECT_NE(Check(image, ImageKind::Program).Verdict, ImageVerdict::Complete);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileHeaders,
    testing::Values(
        HostileCase{"LfanewAllOnes", 0x3C, 4, 0xFFFFFFFF, ImageVerdict::NotAnImage},
        HostileCase{"LfanewWrapsToZero", 0x3C, 4, 0xFFFFFFFC, ImageVerdict::NotAnImage},
        HostileCase{"LfanewPastTheHead", 0x3C, 4, ImageHeadBytes - 8, ImageVerdict::NotAnImage},
        HostileCase{"LfanewIntoTheHeader", 0x3C, 4, 2, ImageVerdict::NotAnImage},
        HostileCase{"SectionCountMaximal", made::SectionCountOffset, 2, 0xFFFF, ImageVerdict::NotAnImage},
        HostileCase{"SectionCountPastTheHeaders", made::SectionCountOffset, 2, 1000,
                    ImageVerdict::Incomplete},
        HostileCase{"OptionalHeaderMaximal", made::PeOffset + 4 + 16, 2, 0xFFFF, ImageVerdict::NotAnImage},
        HostileCase{"DirectoryCountMaximal", made::OptionalOffset + 92, 4, 0xFFFFFFFF,
                    ImageVerdict::Complete}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every machine a staged copy may name, on every native machine, where the system has no
// GetMachineTypeAttributes (before Windows 11): x86 runs wherever WoW64 does, ARM64 and x64 on their own
// kind only (Windows 10 on ARM has no x64 emulator), Itanium, ARM32 and no machine at all nowhere. Where the
// system answers, its answer decides, both ways: x64 on the ARM64 Windows 11 that emulates it, and x86 on a
// Server Core without WoW64.
TEST(MachineRuns, TheSystemsAnswerDecidesAndWithoutOneTheNativeMachine) {
    constexpr std::uint16_t natives[] = {MachineI386, MachineAmd64, MachineArm64, 0x200, 0};
    const struct {
        std::uint16_t Machine;
        bool Runs[std::size(natives)]; // with no answer from the system, on each of natives
    } cases[] = {
        {MachineI386, {true, true, true, false, false}},
        {MachineAmd64, {false, true, false, false, false}},
        {MachineArm64, {false, false, true, false, false}},
        {0x200, {false, false, false, false, false}}, // Itanium
        {0x1C4, {false, false, false, false, false}}, // ARM32 (Thumb-2)
        {0x1C0, {false, false, false, false, false}}, // ARM
        {0, {false, false, false, false, false}},
    };
    for (const auto& c : cases) {
        for (std::size_t k = 0; k < std::size(natives); ++k) {
            const std::uint16_t native = natives[k];
            EXPECT_EQ(MachineRuns(c.Machine, {native, std::nullopt}), c.Runs[k])
                << std::hex << c.Machine << " on " << native;
            EXPECT_TRUE(MachineRuns(c.Machine, {native, true})) << std::hex << c.Machine << " on " << native;
            EXPECT_FALSE(MachineRuns(c.Machine, {native, false}))
                << std::hex << c.Machine << " on " << native;
        }
    }
}

TEST(SignatureRefusal, RefusesWhatTheBytesSayNotWhomTheMachineTrusts) {
    constexpr std::uint32_t corrupt = 1392; // ERROR_FILE_CORRUPT
    const struct {
        std::uint32_t Result;
        std::uint32_t Refusal;
    } cases[] = {
        {0, 0},
        {0x80096010, corrupt}, // TRUST_E_BAD_DIGEST: one byte changed
        {0x800B0100, corrupt}, // TRUST_E_NOSIGNATURE, with a certificate table there
        {0x800B0003, corrupt}, // TRUST_E_SUBJECT_FORM_UNKNOWN
        {0x8009200D, corrupt}, // CRYPT_E_BAD_MSG: a signature that cannot be decoded
        {0x80093102, corrupt}, // CRYPT_E_ASN1_BADTAG
        {0x80090006, corrupt}, // NTE_BAD_SIGNATURE
        {0x800B0001, corrupt}, // TRUST_E_PROVIDER_UNKNOWN: nothing could be checked
        {0x800B010B, corrupt}, // TRUST_E_FAIL: no step named, nothing confirmed
        {0x800B010C, corrupt}, // CERT_E_REVOKED
        {0x80092010, corrupt}, // CRYPT_E_REVOKED
        {0x800B0111, corrupt}, // TRUST_E_EXPLICIT_DISTRUST
        {0x800B0115, corrupt}, // past the chain's results
        {0x00000002, corrupt}, // no HRESULT at all
        // The check could not run: the system's own reason, which was shown as a corrupt file.
        {0x8007007E, 126},     // ERROR_MOD_NOT_FOUND: wintrust.dll could not be loaded
        {0x8007007F, 127},     // ERROR_PROC_NOT_FOUND: it holds no WinVerifyTrust
        {0x8007000E, 14},      // ERROR_OUTOFMEMORY
        {0x80070000, corrupt}, // a system error without a code is no success
        {0x800B0108, 0},       // CERT_E_MALFORMED: a certificate's subject or issuer name is missing
        {0x800B0109, 0},       // CERT_E_UNTRUSTEDROOT: a self-signed or private certificate
        {0x800B0101, 0},       // CERT_E_EXPIRED
        {0x800B010A, 0},       // CERT_E_CHAINING
        {0x800B010D, 0},       // CERT_E_UNTRUSTEDTESTROOT
        {0x800B0110, 0},       // CERT_E_WRONG_USAGE
        {0x800B0112, 0},       // CERT_E_UNTRUSTEDCA
        {0x800B0114, 0},       // CERT_E_INVALID_NAME, the last of the chain's results
        {0x800B0004, 0},       // TRUST_E_SUBJECT_NOT_TRUSTED
        {0x80092012, 0},       // CRYPT_E_NO_REVOCATION_CHECK
        {0x80092013, 0},       // CRYPT_E_REVOCATION_OFFLINE
        {0x80096005, 0},       // TRUST_E_TIME_STAMP
        {0x80096004, 0},       // TRUST_E_CERT_SIGNATURE
        {0x80092026, 0},       // CRYPT_E_SECURITY_SETTINGS
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SignatureRefusal(c.Result), c.Refusal) << std::hex << c.Result;
    }
}

} // namespace
} // namespace zal
