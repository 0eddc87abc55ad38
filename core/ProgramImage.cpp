#include "core/ProgramImage.h"

#include <algorithm>
#include <iterator>

namespace zal {

namespace {

constexpr std::uint16_t ImageFileExecutableImage = 0x0002;
constexpr std::uint16_t ImageFileDll = 0x2000;
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::uint64_t CoffHeaderSize = 20;
constexpr std::uint64_t SectionHeaderSize = 40;
constexpr std::uint32_t CertificateDirectory = 4;

// Little-endian reads that fail instead of reading past the bytes at hand.
class HeadReader {
public:
    explicit HeadReader(std::span<const unsigned char> bytes) : FBytes(bytes) {}

    bool Holds(std::uint64_t offset, std::uint64_t size) const {
        return offset <= FBytes.size() && size <= FBytes.size() - offset;
    }
    std::uint32_t U16(std::uint64_t offset) const { return Value(offset, 2); }
    std::uint32_t U32(std::uint64_t offset) const { return Value(offset, 4); }

private:
    std::uint32_t Value(std::uint64_t offset, int size) const {
        std::uint32_t value = 0;
        for (int k = size - 1; k >= 0; --k) {
            value = value << 8 | FBytes[offset + k];
        }
        return value;
    }

    std::span<const unsigned char> FBytes;
};

} // namespace

ImageCheck CheckProgramImage(std::span<const unsigned char> head, std::uint64_t fileSize,
                             ImageKind expected) {
    // Bytes past the file's end are not the file's.
    head = head.first(static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), fileSize)));
    const HeadReader read(head);
    const bool wholeFileRead = head.size() == fileSize;
    // A structure that is not in the bytes read: the file ended there, or its headers are larger than any
    // linker writes.
    const auto missing = [&] {
        return ImageCheck{wholeFileRead ? ImageVerdict::Incomplete : ImageVerdict::NotAnImage, false};
    };
    const auto inFile = [&](std::uint64_t offset, std::uint64_t size) {
        return offset <= fileSize && size <= fileSize - offset;
    };

    if (!read.Holds(0, 0x40)) {
        return missing();
    }
    if (head[0] != 'M' || head[1] != 'Z') {
        return {ImageVerdict::NotAnImage, false};
    }
    const std::uint64_t pe = read.U32(0x3C);
    if (!read.Holds(pe, 4 + CoffHeaderSize)) {
        return missing();
    }
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) {
        return {ImageVerdict::NotAnImage, false};
    }
    const std::uint64_t coff = pe + 4;
    const auto machine = static_cast<std::uint16_t>(read.U16(coff));
    const std::uint64_t sectionCount = read.U16(coff + 2);
    const std::uint64_t optionalSize = read.U16(coff + 16);
    const std::uint32_t characteristics = read.U16(coff + 18);

    const std::uint64_t optional = coff + CoffHeaderSize;
    if (!read.Holds(optional, optionalSize)) {
        return missing();
    }
    if (optionalSize < 2) {
        return {ImageVerdict::NotAnImage, false};
    }
    const std::uint32_t magic = read.U16(optional);
    // Where the count of data directories stands, and where the directories begin.
    std::uint64_t countOffset = 0;
    if (magic == Pe32Magic) {
        countOffset = 92;
    } else if (magic == Pe32PlusMagic) {
        countOffset = 108;
    } else {
        return {ImageVerdict::NotAnImage, false};
    }
    if (optionalSize < countOffset + 4) {
        return {ImageVerdict::NotAnImage, false};
    }
    const std::uint64_t sizeOfHeaders = read.U32(optional + 60);
    const std::uint64_t directories =
        std::min<std::uint64_t>(read.U32(optional + countOffset), (optionalSize - countOffset - 4) / 8);

    const std::uint64_t sections = optional + optionalSize;
    if (!read.Holds(sections, sectionCount * SectionHeaderSize)) {
        return missing();
    }
    if (sizeOfHeaders > fileSize) {
        return {ImageVerdict::Incomplete, false};
    }
    for (std::uint64_t k = 0; k < sectionCount; ++k) {
        const std::uint64_t entry = sections + k * SectionHeaderSize;
        const std::uint64_t rawSize = read.U32(entry + 16);
        const std::uint64_t rawOffset = read.U32(entry + 20);
        if (rawSize != 0 && !inFile(rawOffset, rawSize)) {
            return {ImageVerdict::Incomplete, false};
        }
    }
    // The certificate table's entry holds a file offset, not an address in the loaded image.
    bool hasCertificates = false;
    if (directories > CertificateDirectory) {
        const std::uint64_t entry = optional + countOffset + 4 + CertificateDirectory * 8;
        const std::uint64_t tableOffset = read.U32(entry);
        const std::uint64_t tableSize = read.U32(entry + 4);
        if (tableSize != 0) {
            if (!inFile(tableOffset, tableSize)) {
                return {ImageVerdict::Incomplete, false};
            }
            hasCertificates = true;
        }
    }
    if ((characteristics & ImageFileExecutableImage) == 0) {
        return {ImageVerdict::NotAnImage, false};
    }
    const bool isDll = (characteristics & ImageFileDll) != 0;
    if (isDll != (expected == ImageKind::Library)) {
        return {ImageVerdict::WrongKind, false};
    }
    return {ImageVerdict::Complete, hasCertificates, machine};
}

bool MachineRuns(std::uint16_t machine, const MachineSupport& support) {
    if (support.UserMode) {
        return *support.UserMode;
    }
    if (machine == MachineI386) {
        return support.Native == MachineI386 || support.Native == MachineAmd64 ||
               support.Native == MachineArm64;
    }
    return (machine == MachineAmd64 || machine == MachineArm64) && machine == support.Native;
}

std::uint32_t SignatureRefusal(std::uint32_t trustResult) {
    // The results that speak of whom a signature comes from, not of what it covers: the signer's certificate
    // and its chain, and revocation checks that an offline machine cannot make. Left out on purpose:
    // CERT_E_REVOKED and TRUST_E_EXPLICIT_DISTRUST, a signer that the machine has turned down; and
    // TRUST_E_FAIL (0x800B010B), a generic failure that names no step, so nothing says the bytes matched.
    // CERT_E_MALFORMED is in: a certificate's field (its subject or issuer name) is missing or empty.
    static constexpr std::uint32_t Accepted[] = {
        0,
        0x80092011, // CRYPT_E_NO_REVOCATION_DLL
        0x80092012, // CRYPT_E_NO_REVOCATION_CHECK
        0x80092013, // CRYPT_E_REVOCATION_OFFLINE
        0x80092014, // CRYPT_E_NOT_IN_REVOCATION_DATABASE
        0x80092026, // CRYPT_E_SECURITY_SETTINGS
        0x8009202B, // CRYPT_E_NO_TRUSTED_SIGNER
        0x80096003, // TRUST_E_COUNTER_SIGNER
        0x80096004, // TRUST_E_CERT_SIGNATURE: a certificate of the chain, not the file
        0x80096005, // TRUST_E_TIME_STAMP
        0x80096019, // TRUST_E_BASIC_CONSTRAINTS
        0x8009601E, // TRUST_E_FINANCIAL_CRITERIA
        0x800B0004, // TRUST_E_SUBJECT_NOT_TRUSTED
        0x800B0101, // CERT_E_EXPIRED
        0x800B0102, // CERT_E_VALIDITYPERIODNESTING
        0x800B0103, // CERT_E_ROLE
        0x800B0104, // CERT_E_PATHLENCONST
        0x800B0105, // CERT_E_CRITICAL
        0x800B0106, // CERT_E_PURPOSE
        0x800B0107, // CERT_E_ISSUERCHAINING
        0x800B0108, // CERT_E_MALFORMED
        0x800B0109, // CERT_E_UNTRUSTEDROOT: a self-signed or private certificate
        0x800B010A, // CERT_E_CHAINING
        0x800B010D, // CERT_E_UNTRUSTEDTESTROOT
        0x800B010E, // CERT_E_REVOCATION_FAILURE
        0x800B010F, // CERT_E_CN_NO_MATCH
        0x800B0110, // CERT_E_WRONG_USAGE
        0x800B0112, // CERT_E_UNTRUSTEDCA
        0x800B0113, // CERT_E_INVALID_POLICY
        0x800B0114, // CERT_E_INVALID_NAME
    };
    constexpr std::uint32_t FileCorrupt = 1392; // ERROR_FILE_CORRUPT
    constexpr std::uint32_t Win32Facility = 0x80070000;
    if (std::find(std::begin(Accepted), std::end(Accepted), trustResult) != std::end(Accepted)) {
        return 0;
    }
    // A system error (HRESULT_FROM_WIN32) says why the check could not run, wintrust.dll that cannot be
    // loaded among them: its own text tells the user more than "corrupt" would, and the copy stays refused.
    const std::uint32_t win32Code = trustResult & 0xFFFF;
    if ((trustResult & 0xFFFF0000) == Win32Facility && win32Code != 0) {
        return win32Code;
    }
    // Anything else is a file not to install: a digest that does not match, no signature in a table that
    // promises one, a signature that cannot be decoded, a signer that is revoked or distrusted.
    return FileCorrupt;
}

} // namespace zal
