// Runs in a Japanese locale (ctest sets LC_ALL=ja_JP.UTF-8, which gives Wine the ANSI code page 932), where a
// backslash byte can be the second half of a double-byte character.
#include "app/ProcessInputs.h"
#include "app/UpdateCompletion.h"
#include "app/UpdateFiles.h"
#include "testkit/CodePages.h"
#include "testkit/FakeUpdateHost.h"
#include "testkit/ProgramMaker.h"
#include "tests/win/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace zal {
namespace {

TEST(MultiByteSettingsTest, JapaneseLocaleHasCodePage932) {
    ASSERT_EQ(::GetACP(), 932u) << "run this suite with LC_ALL=ja_JP.UTF-8";
    EXPECT_EQ(LocaleAnsiCodePage(), 932u);
    LocaleFacts facts = GatherLocaleFacts();
    EXPECT_TRUE(facts.IsNT);
    EXPECT_EQ(facts.ThreadLocale & 0x3FF, 0x11u);
}

TEST(MultiByteSettingsTest, DecidedAndRedecidedFromTheLocale) {
    ASSERT_EQ(::GetACP(), 932u) << "run this suite with LC_ALL=ja_JP.UTF-8";
    DecideCurrentMultiByteSettings();
    EXPECT_TRUE(CurrentMultiByteSettings().MultiByteMode);
    EXPECT_EQ(CurrentMultiByteSettings().LeadByteSet, testkit::CodePage932().LeadByteSet);

    // A settings change may have switched the thread locale away; deciding again starts from the user's.
    ASSERT_TRUE(::SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)));
    DecideCurrentMultiByteSettings();
    EXPECT_FALSE(CurrentMultiByteSettings().MultiByteMode);
    RedecideMultiByteSettings();
    EXPECT_EQ(::GetThreadLocale() & 0x3FF, 0x11u);
    EXPECT_TRUE(CurrentMultiByteSettings().MultiByteMode);
    EXPECT_EQ(CurrentMultiByteSettings().LeadByteSet, testkit::CodePage932().LeadByteSet);
}

// "\x83\x5C" is one katakana letter; read byte by byte its second half is a backslash, and the staged copy
// would be looked for under a wrong name.
TEST(MultiByteSettingsTest, ToolNameWithTrailByteBackslashFindsItsDirectory) {
    ASSERT_EQ(::GetACP(), 932u) << "run this suite with LC_ALL=ja_JP.UTF-8";
    RedecideMultiByteSettings();
    test::TempDir dir("mbcs");
    ASSERT_NO_FATAL_FAILURE(test::WriteFileBytes(dir / "ZAL.exe", "old zal"));
    const std::string newZal = testkit::MakeProgram({.Variant = 5});
    ASSERT_NO_FATAL_FAILURE(test::WriteFileBytes(dir / "ZAL.upd", newZal));
    ASSERT_NO_FATAL_FAILURE(test::WriteFileBytes(dir / "\x83\\Tool.exe", "tool"));
    ASSERT_TRUE(LookUp(dir / "\x83\\Tool.exe").IsFile());

    testkit::FakeUpdateHost host;
    host.ExePath = dir / "\x83\\Tool.exe";
    host.Mb = CurrentMultiByteSettings();
    CompleteUpdate(host);

    EXPECT_EQ(test::Summary(test::ReadFileBytes(dir / "ZAL.exe")), test::Summary(newZal));
    EXPECT_FALSE(LookUp(dir / "ZAL.upd").Exists);
    EXPECT_EQ(host.Closes, 1);
}

} // namespace
} // namespace zal
