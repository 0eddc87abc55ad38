#pragma once
// Small Windows program and DLL images for the tests to stage: headers, one code section and one data
// section, written byte by byte rather than by the tool's own rule, so that a fault in the rule cannot hide
// in its fixtures. Nothing runs them; they are what a staged copy must look like. Portable.
#include "core/ProgramImage.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zal::testkit {

struct ProgramShape {
    ImageKind Kind = ImageKind::Program;
    bool Pe32Plus = false; // x86-64 instead of i386
    // The COFF machine that the header names, for another machine than the one that goes with the optional
    // header (ARM64 with PE32+, say); 0 names that one.
    std::uint16_t Machine = 0;
    // The file's whole size at least: the data section grows to fill it, so that any cut shows.
    std::size_t Size = 0;
    // Bytes of the file's own after the last section, which the image does not describe (as installers and
    // signatures append them).
    std::size_t Overlay = 0;
    unsigned Variant = 1; // varies the data, so that two made files differ
};

// Where the made image keeps what the tests change to spoil it.
namespace made {
inline constexpr std::size_t PeOffset = 0x80;                           // e_lfanew's value
inline constexpr std::size_t CharacteristicsOffset = PeOffset + 4 + 18; // the COFF characteristics
inline constexpr std::size_t SectionCountOffset = PeOffset + 4 + 2;
inline constexpr std::size_t OptionalOffset = PeOffset + 24;
std::size_t SectionTableOffset(bool pe32Plus);
// The certificate table's entry in the data directories: offset, then size.
std::size_t CertificateEntryOffset(bool pe32Plus);
// The last section's header: its raw size at +16, its file offset at +20.
std::size_t LastSectionHeaderOffset(bool pe32Plus);
} // namespace made

std::string MakeProgram(const ProgramShape& shape = {});

// Overwrites four bytes of image at offset with value, little-endian.
void PutU32(std::string& image, std::size_t offset, std::uint32_t value);
std::uint32_t GetU32(const std::string& image, std::size_t offset);

} // namespace zal::testkit
