// The program-image rule on arbitrary headers and file sizes: it never reads outside the bytes it is given
// (the sanitizers would stop it), and its verdicts hang together.
#include "core/ProgramImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

using namespace zal;

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

// Input: a byte choosing the expected kind and how much of the file lies beyond the head, four bytes of
// that extra size, then the head itself.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const bool library = (data[0] & 1) != 0;
    std::uint32_t extra = 0;
    std::memcpy(&extra, data + 1, 4);
    if ((data[0] & 2) == 0) {
        extra = 0; // often the head is the whole file
    }
    const std::span<const unsigned char> head(data + 5, size - 5);
    const std::uint64_t fileSize = head.size() + std::uint64_t{extra};
    const ImageKind kind = library ? ImageKind::Library : ImageKind::Program;
    const ImageKind other = library ? ImageKind::Program : ImageKind::Library;

    const ImageCheck check = CheckProgramImage(head, fileSize, kind);
    Require(!check.Signed || check.Verdict == ImageVerdict::Complete);
    if (check.Verdict == ImageVerdict::Complete) {
        Require(head.size() >= 0x40 && head[0] == 'M' && head[1] == 'Z');
        // The kind is the last thing decided: the same file expected as the other kind is only of the wrong
        // kind, and more bytes in the file never make a complete image incomplete.
        Require(CheckProgramImage(head, fileSize, other).Verdict == ImageVerdict::WrongKind);
        const ImageCheck longer = CheckProgramImage(head, fileSize + 1 + (extra & 0xFFFF), kind);
        Require(longer.Verdict == ImageVerdict::Complete && longer.Signed == check.Signed);
    }
    return 0;
}
