// CommandLineArg against the plain reference reader of the fuzz tree, so that a disagreement shows in the
// normal suite and not only under the fuzzer.
#include "core/CommandLine.h"
#include "testkit/CodePages.h"
#include "tests/fuzz/ReferenceCommandLine.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace zal {
namespace {

// Every argument of line, in both modes, as the product and the reference read it.
void ExpectSameArguments(const std::string& line) {
    for (const MultiByteSettings& mb : {MultiByteSettings{}, testkit::CodePage932()}) {
        const reference::LeadBytes lead = mb.LeadByteSet;
        const auto words = reference::Words(line, lead);
        for (std::size_t n = 0; n <= words.size() + 1; ++n) {
            const std::string expected = n >= 1 && n < words.size() ? words[n] : std::string();
            ASSERT_EQ(CommandLineArg(line, static_cast<int>(n), mb), expected)
                << testing::PrintToString(line) << " n=" << n << " multi-byte=" << mb.MultiByteMode;
        }
    }
}

TEST(CommandLineReference, AgreesOnTrickyLines) {
    const std::string lines[] = {
        "",
        "\"",
        "\"\"",
        "\"\"\"",
        "tool.exe \"\"\"\"\"",
        "\"C:\\Program Files\\tool.exe\"\"\" ZAL.exe",
        "tool.exe a\"b\"c\"d e\" f",
        "tool.exe \x81\"x\" y \"\x81\"\" z",
        "tool.exe \x81",
        "tool.exe \x81\0 x"s,
        "\x81\x81\x81 \x81 \x81\t\x81\"",
        "tool.exe\x01\x02\x1F\x20\x21\x7F\x80\xFF",
        "   \t\r\n ",
    };
    for (const auto& line : lines) {
        ExpectSameArguments(line);
    }
}

// Every line of up to six bytes over the bytes that matter to the reader.
TEST(CommandLineReference, AgreesOnEveryShortLine) {
    const std::string alphabet = "a \"\x81\t\0"s;
    std::string line;
    const auto extend = [&](const auto& self, std::size_t length) -> void {
        ExpectSameArguments(line);
        if (length == 6 || testing::Test::HasFatalFailure()) {
            return;
        }
        for (char c : alphabet) {
            line.push_back(c);
            self(self, length + 1);
            line.pop_back();
        }
    };
    extend(extend, 0);
}

} // namespace
} // namespace zal
