// The machine rule at the press: a staged copy built for a machine that this Windows cannot run is refused
// like any other staged copy that would leave ZAL unable to start. Wine runs x86 and x64 alike, so the host
// stands in for other systems with the real rule fed what they would say.
#include "app/ProgramImage_win.h"
#include "app/UpdateCompletion.h"
#include "base/Win32Error.h"
#include "core/PathRules.h"
#include "core/ProgramImage.h"
#include "core/UpdatePlan.h"
#include "testkit/FakeUpdateHost.h"
#include "testkit/ProgramMaker.h"
#include "tests/win/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zal {
namespace {

using test::ListDirectory;
using test::WriteFileBytes;

std::string Image(const std::string& name, std::uint16_t machine, unsigned variant) {
    const bool library = name.starts_with("Glimae");
    return testkit::MakeProgram({.Kind = library ? ImageKind::Library : ImageKind::Program,
                                 .Pe32Plus = machine != MachineI386,
                                 .Machine = machine,
                                 .Size = 100 * 1024,
                                 .Variant = variant});
}

struct MachineCase {
    const char* Name;
    std::uint16_t Native; // the Windows stood in for, which has no GetMachineTypeAttributes
    const char* Argument;
    std::uint16_t Staged;    // the staged copy's machine
    std::uint16_t Installed; // both installed files' machine
    bool Applied;
};

class MachineRule : public testing::TestWithParam<MachineCase> {};

TEST_P(MachineRule, RefusesWhatThisWindowsCannotRunAndNothingElse) {
    const MachineCase& c = GetParam();
    test::TempDir dir("machine");
    const std::string target = c.Argument;
    const std::string staged = ReplaceExtension(target, ".upd", {});
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(dir / "ZALUpdate.exe", "tool"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(dir / "ZAL.exe", Image("ZAL.exe", c.Installed, 1)));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(dir / "Glimae.dll", Image("Glimae.dll", c.Installed, 2)));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(dir / staged, Image(staged, c.Staged, 3)));
    const std::map<std::string, std::string> before = ListDirectory(dir.Path());
    testkit::FakeUpdateHost host;
    host.ExePath = dir / "ZALUpdate.exe";
    host.Argument = c.Argument;
    host.Runs = [&](std::uint16_t machine) { return MachineRuns(machine, {c.Native, std::nullopt}); };

    if (c.Applied) {
        EXPECT_NO_THROW(CompleteUpdate(host));
        std::map<std::string, std::string> expected = before;
        expected[target] = before.at(staged);
        expected.erase(staged);
        EXPECT_EQ(ListDirectory(dir.Path()), expected);
        EXPECT_EQ(host.Pauses, std::vector<unsigned long>{UpdatePauseMs});
        EXPECT_EQ(host.Closes, 1);
        return;
    }
    try {
        CompleteUpdate(host);
        ADD_FAILURE() << "no error for " << staged;
    } catch (const Win32Error& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_EXE_MACHINE_TYPE_MISMATCH));
        // Windows' text names the file through %1: the staged copy's name.
        EXPECT_EQ(std::string(error.what()), FillInsert(SystemErrorText(error.Code()), staged));
    }
    // Refused at once, since waiting cannot mend it: both files as they were, the window open.
    EXPECT_EQ(ListDirectory(dir.Path()), before);
    EXPECT_TRUE(host.Pauses.empty());
    EXPECT_EQ(host.Closes, 0);
}

// 32-bit Windows, the tool's own target, and 64-bit Windows with ZAL moving between 32 and 64 bits one file
// at a time: the installed files' machine is no rule for the staged copy, in either order.
INSTANTIATE_TEST_SUITE_P(
    Table, MachineRule,
    testing::Values(
        MachineCase{"X64ProgramOn32BitWindows", MachineI386, "ZAL.exe", MachineAmd64, MachineI386, false},
        MachineCase{"X64LibraryOn32BitWindows", MachineI386, "Glimae.dll", MachineAmd64, MachineI386, false},
        MachineCase{"X86ProgramOn32BitWindows", MachineI386, "ZAL.exe", MachineI386, MachineI386, true},
        MachineCase{"X64LibraryBeside32BitFiles", MachineAmd64, "Glimae.dll", MachineAmd64, MachineI386,
                    true},
        MachineCase{"X86ProgramBeside64BitFiles", MachineAmd64, "ZAL.exe", MachineI386, MachineAmd64, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// Wine runs x64 natively here and x86 beside it, whether this program is built for the one or the other;
// no ARM64 emulator comes with it.
TEST(SystemRunsMachineTest, WineRunsX86AndX64AndNothingElse) {
    EXPECT_TRUE(SystemRunsMachine(MachineI386));
    EXPECT_TRUE(SystemRunsMachine(MachineAmd64));
    EXPECT_FALSE(SystemRunsMachine(MachineArm64));
    EXPECT_FALSE(SystemRunsMachine(0x200)); // Itanium
    EXPECT_FALSE(SystemRunsMachine(0x1C4)); // ARM32
    EXPECT_FALSE(SystemRunsMachine(0));
}

} // namespace
} // namespace zal
