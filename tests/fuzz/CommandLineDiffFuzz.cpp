// The product's CommandLineArg against the plain reference reader, for every argument of every line.
#include "app/FileNames.h"
#include "tests/fuzz/FuzzSettings.h"
#include "tests/fuzz/ReferenceCommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace zal;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const MultiByteSettings mb = fuzz::PickSettings(data[0]);
    const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
    reference::LeadBytes lead{};
    if (mb.MultiByteMode)
        lead = mb.LeadByteSet;

    const auto words = reference::Words(line, lead);
    for (std::size_t n = 1; n <= words.size() + 1; ++n) {
        const std::string expected = n < words.size() ? words[n] : std::string();
        if (CommandLineArg(line, static_cast<int>(n), mb) != expected)
            std::abort();
    }
    return 0;
}
