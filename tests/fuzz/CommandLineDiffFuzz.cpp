// The product's CommandLineArg against the plain reference reader, for every argument of every line.
#include "core/CommandLine.h"
#include "tests/fuzz/FuzzSettings.h"
#include "tests/fuzz/ReferenceCommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace zal;

namespace {

// Bytes of a lead-byte mask: one bit for each of 0x80 to 0xFF.
constexpr std::size_t MaskBytes = 16;

// How many arguments at each end of a long line are compared.
constexpr int EdgeArguments = 32;

// A first byte with the top bit set takes any set of high lead bytes from the next 16 bytes, so the two
// readers also meet lead-byte sets that no fixed code page has. Lead bytes stay at 0x80 and above, as in
// every code page the system offers; lower ones would turn blanks and quotes into halves of characters.
MultiByteSettings TakeSettings(std::string_view& input) {
    const unsigned char selector = static_cast<unsigned char>(input[0]);
    input.remove_prefix(1);
    if ((selector & 0x80) == 0 || input.size() < MaskBytes) {
        return fuzz::PickSettings(selector);
    }
    MultiByteSettings mb;
    mb.MultiByteMode = (selector & 0x40) == 0;
    for (std::size_t bit = 0; bit < 8 * MaskBytes; ++bit) {
        if ((static_cast<unsigned char>(input[bit / 8]) >> (bit % 8)) & 1) {
            mb.LeadByteSet[0x80 + bit] = true;
        }
    }
    input.remove_prefix(MaskBytes);
    return mb;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::string_view line(reinterpret_cast<const char*>(data), size);
    const MultiByteSettings mb = TakeSettings(line);
    // With the mode off the set is ignored, whatever it holds.
    reference::LeadBytes lead{};
    if (mb.MultiByteMode) {
        lead = mb.LeadByteSet;
    }

    const auto words = reference::Words(line, lead);
    const int last = static_cast<int>(words.size()) + 1;
    for (int n = -1; n <= last; ++n) {
        // Each read walks the line from its start, so a line of thousands of words would cost millions of
        // steps. The first and the last arguments are enough there: a word read wrongly in the middle
        // either moves every word after it, up to the last, or goes wrong in a short line as well.
        if (n == EdgeArguments && last - n > EdgeArguments) {
            n = last - EdgeArguments;
        }
        const std::size_t k = static_cast<std::size_t>(n);
        const std::string expected = n >= 1 && k < words.size() ? words[k] : std::string();
        if (CommandLineArg(line, n, mb) != expected) {
            std::abort();
        }
    }
    return 0;
}
