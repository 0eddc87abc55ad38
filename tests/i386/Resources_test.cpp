// The tool's resources read back through the system's own calls, in a process of the tool's bitness: the
// version block through VerQueryValueA, the icon group through the icon-directory calls, and the manifest.
// And the icon that the application window and a form take from their module, through WM_SETICON and the
// class icon.
#include "ui/Application.h"
#include "ui/Form.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace zal {
namespace {

// An icon group as the resource stores it: packed to two bytes, so that an entry is 14 bytes, not 16.
#pragma pack(push, 2)
struct GroupIconHeader {
    WORD Reserved;
    WORD Type;
    WORD Count;
};
struct GroupIconEntry {
    BYTE Width;
    BYTE Height;
    BYTE ColorCount;
    BYTE Reserved;
    WORD Planes;
    WORD BitCount;
    DWORD BytesInRes;
    WORD Id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconHeader) == 6);
static_assert(sizeof(GroupIconEntry) == 14);

constexpr WORD PortugueseBrazil = MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN);

// The tool built with this program: ZAL_TOOL_FROM_TESTS is its path relative to this program's directory.
std::string ToolPath() {
    char own[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path(own, length);
    path.erase(path.find_last_of('\\') + 1);
    path += ZAL_TOOL_FROM_TESTS;
    std::replace(path.begin(), path.end(), '/', '\\');
    char full[MAX_PATH + 1] = {};
    DWORD fullLength = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return fullLength > 0 && fullLength < sizeof full ? std::string(full, fullLength) : path;
}

// The tool mapped as data: its resources can be found, none of its code runs.
class ToolImage {
public:
    ToolImage() : FModule(::LoadLibraryExA(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ToolImage(const ToolImage&) = delete;
    ToolImage& operator=(const ToolImage&) = delete;
    ~ToolImage() {
        if (FModule) {
            ::FreeLibrary(FModule);
        }
    }
    HMODULE Module() const { return FModule; }

    // The bytes of one resource; empty when it is missing.
    std::string Bytes(HRSRC resource) const {
        if (!resource) {
            return {};
        }
        HGLOBAL loaded = ::LoadResource(FModule, resource);
        const void* data = loaded ? ::LockResource(loaded) : nullptr;
        return data ? std::string(static_cast<const char*>(data), ::SizeofResource(FModule, resource))
                    : std::string();
    }

private:
    HMODULE FModule;
};

std::string Ansi(const wchar_t* text) {
    int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(std::max(length, 1)), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), length, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    return ansi;
}

TEST(ToolResources, VersionBlockReadsBackThroughVerQueryValue) {
    const std::string tool = ToolPath();
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(tool.c_str(), &ignored);
    ASSERT_GT(size, 0u) << tool << ", error " << ::GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(tool.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000004u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0416);
    EXPECT_EQ(translation[1], 1252);

    const struct {
        const char* Key;
        const wchar_t* Text;
    } strings[] = {
        {"FileVersion", L"1.0.0.4"},
        {"ProductVersion", L"1.0.0.4"},
        {"OriginalFilename", L"ZALUpdate.exe"},
        {"FileDescription", L"Atualiza\u00e7\u00e3o do ZAL"},
    };
    for (const auto& s : strings) {
        std::string key = std::string("\\StringFileInfo\\041604E4\\") + s.Key;
        char* text = nullptr;
        ASSERT_TRUE(::VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
            << key;
        EXPECT_EQ(std::string(text), Ansi(s.Text)) << key;
        std::wstring wideKey(key.begin(), key.end());
        wchar_t* wide = nullptr;
        ASSERT_TRUE(
            ::VerQueryValueW(block.data(), wideKey.c_str(), reinterpret_cast<void**>(&wide), &length));
        EXPECT_TRUE(std::wstring(wide) == s.Text) << key << " as UTF-16";
    }
}

TEST(ToolResources, IconGroupHoldsOne32By32SixteenColourImageThatTheSystemPicks) {
    ToolImage tool;
    ASSERT_NE(tool.Module(), nullptr) << ToolPath() << ", error " << ::GetLastError();
    std::string group =
        tool.Bytes(::FindResourceExA(tool.Module(), RT_GROUP_ICON, "MAINICON", PortugueseBrazil));
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    GroupIconHeader header;
    std::memcpy(&header, group.data(), sizeof header);
    EXPECT_EQ(header.Reserved, 0);
    EXPECT_EQ(header.Type, 1);
    EXPECT_EQ(header.Count, 1);
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + sizeof header, sizeof entry);
    EXPECT_EQ(entry.Width, 32);
    EXPECT_EQ(entry.Height, 32);
    EXPECT_EQ(entry.ColorCount, 16);
    EXPECT_EQ(entry.Planes, 1);
    EXPECT_EQ(entry.BitCount, 4);

    // The system's reader of the directory finds the same image.
    EXPECT_EQ(
        ::LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(group.data()), TRUE, 32, 32, LR_DEFAULTCOLOR),
        entry.Id);
    std::string image =
        tool.Bytes(::FindResourceExA(tool.Module(), RT_ICON, MAKEINTRESOURCEA(entry.Id), PortugueseBrazil));
    ASSERT_EQ(image.size(), entry.BytesInRes);
    HICON icon =
        ::CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()), static_cast<DWORD>(image.size()),
                                   TRUE, 0x00030000, 32, 32, LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << ::GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP mask{};
    ::GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(mask.bmHeight, info.hbmColor ? 32 : 64) << "a monochrome icon keeps its picture below the mask";
    if (info.hbmColor) {
        ::DeleteObject(info.hbmColor);
    }
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
}

TEST(ToolResources, ManifestAsksForCommonControlsSixAndNothingElse) {
    ToolImage tool;
    ASSERT_NE(tool.Module(), nullptr) << ToolPath() << ", error " << ::GetLastError();
    std::string manifest = tool.Bytes(::FindResourceExA(tool.Module(), RT_MANIFEST, MAKEINTRESOURCEA(1),
                                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)));
    ASSERT_FALSE(manifest.empty());
    for (const char* wanted : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                               "publicKeyToken=\"6595b64144ccf1df\"", "processorArchitecture=\"*\""}) {
        EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
    }
    for (const char* unwanted : {"requestedExecutionLevel", "dpiAware", "dpiAwareness"}) {
        EXPECT_EQ(manifest.find(unwanted), std::string::npos) << unwanted;
    }
}

// The application window takes the icon both as its own (WM_SETICON) and as its class's (SetClassLongPtrA),
// and a form takes it as its own.
TEST(ApplicationIcon, IsTheModulesMainIconForTheWindowItsClassAndTheForm) {
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON");
    ASSERT_NE(icon, nullptr) << "this program carries MAINICON";
    TApplication application;
    HWND window = application.Handle();
    EXPECT_EQ(application.Icon(), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(window, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICON)), icon);
    auto* form = application.CreateForm<TForm>();
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(form->Handle(), WM_GETICON, ICON_BIG, 0)), icon);
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

} // namespace
} // namespace zal
