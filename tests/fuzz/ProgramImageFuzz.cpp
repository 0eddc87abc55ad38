// The program-image rule on arbitrary headers and file sizes: it never reads outside the bytes it is given
// (the sanitizers would stop it), and its verdicts hang together; and the machine rule on the machine it
// records, against whatever the system may say.
#include "core/ProgramImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>

using namespace zal;

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The machine rule for machine on a system chosen by the bits of choice.
void CheckMachineRule(std::uint16_t machine, std::uint8_t choice) {
    constexpr std::uint16_t natives[] = {MachineI386, MachineAmd64, MachineArm64, 0x200, 0x1C4, 0};
    const std::size_t pick = choice >> 4;
    const std::uint16_t native = pick < std::size(natives) ? natives[pick] : machine;
    const int says = (choice >> 2) & 3;
    if (says == 1 || says == 2) {
        // The system's answer decides, whatever the machine.
        Require(MachineRuns(machine, {native, says == 2}) == (says == 2));
        return;
    }
    const bool runs = MachineRuns(machine, {native, std::nullopt});
    const auto known = [](std::uint16_t m) {
        return m == MachineI386 || m == MachineAmd64 || m == MachineArm64;
    };
    // Without an answer: only x86 runs on another machine than its own, nothing runs on a Windows the rule
    // does not know, and a machine the rule knows runs on its own kind.
    Require(!runs || machine == native || machine == MachineI386);
    Require(!runs || (known(machine) && known(native)));
    Require(runs || !known(machine) || machine != native);
}

} // namespace

// Input: a byte choosing the expected kind, how much of the file lies beyond the head (bits 0 and 1), what
// GetMachineTypeAttributes says (bits 2 and 3: nothing, no, yes) and the native machine (bits 4 to 7), four
// bytes of that extra size, then the head itself.
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
        // The machine is the COFF header's first field, wherever e_lfanew puts it.
        const std::size_t pe =
            head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | std::size_t{head[0x3F]} << 24;
        Require(check.Machine == (head[pe + 4] | head[pe + 5] << 8));
        CheckMachineRule(check.Machine, data[0]);
    } else {
        Require(check.Machine == 0);
    }
    return 0;
}
