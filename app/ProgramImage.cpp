#include "app/ProgramImage.h"

#include <algorithm>

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
    return {ImageVerdict::Complete, hasCertificates};
}

} // namespace zal
