#include "testkit/ProgramMaker.h"

#include <algorithm>

namespace zal::testkit {

namespace {

constexpr std::size_t FileAlignment = 0x200;
constexpr std::size_t SectionAlignment = 0x1000;
constexpr std::size_t HeadersSize = 0x400;
constexpr std::size_t SectionCount = 2;

std::size_t OptionalSize(bool pe32Plus) {
    return pe32Plus ? 0xF0 : 0xE0; // the fixed fields and 16 data directories
}

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void Put(std::string& image, std::size_t offset, std::uint64_t value, int size) {
    for (int k = 0; k < size; ++k) {
        image[offset + k] = static_cast<char>(value >> (8 * k));
    }
}

void Fill(std::string& image, std::size_t from, std::size_t to, unsigned variant) {
    unsigned state = variant * 2654435761u + 1;
    for (std::size_t k = from; k < to; ++k) {
        state = state * 1103515245u + 12345u;
        image[k] = static_cast<char>(state >> 23);
    }
}

} // namespace

namespace made {
std::size_t SectionTableOffset(bool pe32Plus) {
    return OptionalOffset + OptionalSize(pe32Plus);
}
std::size_t CertificateEntryOffset(bool pe32Plus) {
    return OptionalOffset + (pe32Plus ? 112 : 96) + 4 * 8;
}
std::size_t LastSectionHeaderOffset(bool pe32Plus) {
    return SectionTableOffset(pe32Plus) + (SectionCount - 1) * 40;
}
} // namespace made

std::string MakeProgram(const ProgramShape& shape) {
    const bool plus = shape.Pe32Plus;
    const std::size_t codeSize = FileAlignment;
    const std::size_t codeOffset = HeadersSize;
    const std::size_t dataOffset = codeOffset + codeSize;
    const std::size_t minimum = dataOffset + FileAlignment + shape.Overlay;
    const std::size_t dataSize =
        AlignUp(std::max(shape.Size, minimum) - shape.Overlay - dataOffset, FileAlignment);
    const std::size_t imageEnd = dataOffset + dataSize;
    std::string image(imageEnd + shape.Overlay, '\0');

    image[0] = 'M';
    image[1] = 'Z';
    Put(image, 0x3C, made::PeOffset, 4);
    const std::size_t pe = made::PeOffset;
    image.replace(pe, 4, std::string("PE\0\0", 4));
    Put(image, pe + 4, shape.Machine != 0 ? shape.Machine : plus ? 0x8664 : 0x14C, 2);
    Put(image, made::SectionCountOffset, SectionCount, 2);
    Put(image, pe + 4 + 16, OptionalSize(plus), 2);
    std::uint16_t characteristics = 0x0002 | (plus ? 0x0020 : 0x0100); // executable; large-address or 32-bit
    if (shape.Kind == ImageKind::Library) {
        characteristics |= 0x2000;
    }
    Put(image, made::CharacteristicsOffset, characteristics, 2);

    const std::size_t opt = made::OptionalOffset;
    const std::size_t codeRva = SectionAlignment;
    const std::size_t dataRva = codeRva + SectionAlignment;
    const std::size_t imageSize = dataRva + AlignUp(dataSize, SectionAlignment);
    Put(image, opt, plus ? 0x20B : 0x10B, 2);
    Put(image, opt + 4, codeSize, 4); // SizeOfCode
    Put(image, opt + 8, dataSize, 4); // SizeOfInitializedData
    Put(image, opt + 16, codeRva, 4); // AddressOfEntryPoint
    Put(image, opt + 20, codeRva, 4); // BaseOfCode
    if (plus) {
        Put(image, opt + 24, 0x140000000ull, 8); // ImageBase
    } else {
        Put(image, opt + 24, dataRva, 4); // BaseOfData
        Put(image, opt + 28, shape.Kind == ImageKind::Library ? 0x10000000 : 0x400000, 4);
    }
    Put(image, opt + 32, SectionAlignment, 4);
    Put(image, opt + 36, FileAlignment, 4);
    Put(image, opt + 40, 6, 2);           // MajorOperatingSystemVersion
    Put(image, opt + 48, 6, 2);           // MajorSubsystemVersion
    Put(image, opt + 56, imageSize, 4);   // SizeOfImage
    Put(image, opt + 60, HeadersSize, 4); // SizeOfHeaders
    Put(image, opt + 68, 2, 2);           // Subsystem: Windows GUI
    Put(image, opt + 70, 0x0140, 2);      // DllCharacteristics: ASLR, DEP
    const std::size_t stacks = opt + 72;
    const int word = plus ? 8 : 4;
    Put(image, stacks, 0x100000, word);
    Put(image, stacks + word, 0x1000, word);
    Put(image, stacks + 2 * word, 0x100000, word);
    Put(image, stacks + 3 * word, 0x1000, word);
    Put(image, opt + (plus ? 108 : 92), 16, 4); // NumberOfRvaAndSizes

    const auto section = [&](std::size_t k, const char* name, std::size_t rva, std::size_t size,
                             std::size_t offset, std::uint32_t flags) {
        const std::size_t header = made::SectionTableOffset(plus) + k * 40;
        image.replace(header, 8, std::string(name, 8));
        Put(image, header + 8, size, 4);    // VirtualSize
        Put(image, header + 12, rva, 4);    // VirtualAddress
        Put(image, header + 16, size, 4);   // SizeOfRawData
        Put(image, header + 20, offset, 4); // PointerToRawData
        Put(image, header + 36, flags, 4);
    };
    section(0, ".text\0\0\0", codeRva, codeSize, codeOffset, 0x60000020);
    section(1, ".data\0\0\0", dataRva, dataSize, dataOffset, 0xC0000040);
    // The entry point returns at once: a DLL's entry point says TRUE, a program ends with code 0.
    const std::string code = shape.Kind == ImageKind::Library ? std::string("\xB8\x01\x00\x00\x00\xC3", 6)
                                                              : std::string("\x31\xC0\xC3", 3);
    image.replace(codeOffset, code.size(), code);
    Fill(image, dataOffset, image.size(), shape.Variant);
    return image;
}

void PutU32(std::string& image, std::size_t offset, std::uint32_t value) {
    Put(image, offset, value, 4);
}

std::uint32_t GetU32(const std::string& image, std::size_t offset) {
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k) {
        value = value << 8 | static_cast<unsigned char>(image[offset + k]);
    }
    return value;
}

} // namespace zal::testkit
