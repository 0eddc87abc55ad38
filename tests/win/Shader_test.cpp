#include "base/Handles.h"
#include "core/Gradient.h"
#include "controls/Shader.h"
#include "testkit/BandPicture.h"
#include "testkit/Dib.h"
#include "testkit/GdiObjects.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zal {
namespace {

using testkit::Dib;
using testkit::LiveGdiObjects;
using testkit::PixelBuffer;
using testkit::RasteriseBands;

// What a bitmap holds before painting, so a pixel the panel leaves alone shows up.
constexpr COLORREF Untouched = RGB(0x12, 0x34, 0x56);

std::uint32_t SysColor(int index) {
    return ::GetSysColor(index);
}

// Compares every pixel of target with picture; describes the first difference and counts them all.
int Differences(const Dib& target, const PixelBuffer& picture, std::string& first) {
    int count = 0;
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            const COLORREF painted = target.At(x, y);
            if (painted != picture.At(x, y) && count++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "(%d,%d) is %06lX, the model says %06X", x, y, painted,
                              picture.At(x, y));
                first = text;
            }
        }
    }
    return count;
}

// Opens the protected parts that a test drives directly, and counts the panel's own invalidations.
class TTestShader : public TShader {
public:
    using TShader::Paint;
    using TShader::PaintCoversClient;
    using TShader::TShader;
    using TShader::WindowClassName;

    void Invalidate() override {
        ++Invalidations;
        TShader::Invalidate();
    }

    int Invalidations = 0;
};

// A graphic child that records when it is asked to repaint.
class TSpyControl : public TControl {
public:
    TSpyControl(TWinControl* parent, std::vector<int>& log, int id) : TControl(parent), FLog(log), FId(id) {
        SetParent(parent);
    }
    void Invalidate() override { FLog.push_back(FId); }

private:
    std::vector<int>& FLog;
    int FId;
};

// A windowed child that does the same.
class TSpyPanel : public TPanel {
public:
    TSpyPanel(TWinControl* parent, std::vector<int>& log, int id) : TPanel(parent), FLog(log), FId(id) {
        SetParent(parent);
    }
    void Invalidate() override { FLog.push_back(FId); }

private:
    std::vector<int>& FLog;
    int FId;
};

// A visible top-level window to put a panel in, so invalidation leaves a real update region.
class THostWindow : public TWinControl {
public:
    using TWinControl::TWinControl;

protected:
    const char* WindowClassName() const override { return "TShaderTestHost"; }
    void CreateParams(TCreateParams& params) override {
        TWinControl::CreateParams(params);
        params.Style = WS_POPUP | WS_CLIPCHILDREN;
        params.WndParent = nullptr;
    }
};

void PumpMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

struct TColors {
    TColor From;
    TColor To;
    TColor FromMirror;
    TColor ToMirror;
};

PixelBuffer Model(int width, int height, const TColors& colors, bool direction) {
    const auto bands =
        MirrorGradient({0, 0, width, height}, colors.From, colors.To, colors.FromMirror, colors.ToMirror,
                       direction ? GradientAxis::Horizontal : GradientAxis::Vertical, SysColor);
    return RasteriseBands(bands, width, height, Untouched);
}

void ExpectPaintedAsModel(TShader& shader, const std::string& what) {
    const int width = shader.Width();
    const int height = shader.Height();
    Dib target(width, height, Untouched);
    shader.PaintTo(target.DC());
    const PixelBuffer model =
        Model(width, height,
              {shader.FromColor(), shader.ToColor(), shader.FromColorMirror(), shader.ToColorMirror()},
              shader.Direction());
    std::string first;
    EXPECT_EQ(Differences(target, model, first), 0) << what << ": " << first;
}

TEST(ShaderDefaults, AreThoseOfThePanelFamily) {
    TTestShader shader(nullptr);
    EXPECT_EQ(shader.FromColor(), clBlue);
    EXPECT_EQ(shader.ToColor(), clBlack);
    EXPECT_EQ(shader.FromColorMirror(), clNone);
    EXPECT_EQ(shader.ToColorMirror(), clNone);
    EXPECT_EQ(shader.Steps(), 20);
    EXPECT_FALSE(shader.Direction());
    EXPECT_STREQ(shader.WindowClassName(), "TShader");
}

struct TPaintCase {
    const char* Name;
    int Width;
    int Height;
    TColors Colors;
    bool Direction;
};

const TPaintCase PaintCases[] = {
    {"tool window", 487, 90, {8421440, clBlack, clNone, clNone}, false},
    {"default colours", 200, 150, {clBlue, clBlack, clNone, clNone}, false},
    {"mirror, 101 tall, to white", 60, 101, {clBlack, 0x00FF00, 0x0000FF, clNone}, false},
    {"under 128 tall", 37, 50, {0x102030, 0xF0E0D0, clNone, clNone}, false},
    {"under 128 wide", 50, 20, {0x102030, 0xF0E0D0, clNone, clNone}, true},
    {"one pixel", 1, 1, {clBlack, clWhite, clNone, clNone}, false},
    {"one pixel, mirror", 1, 1, {clBlack, clWhite, clWhite, clBlack}, true},
    {"two pixels, mirror", 3, 2, {clBlack, clWhite, 0x0000FF, 0xFF0000}, false},
    {"full HD", 1920, 1080, {8421440, clBlack, 0x0080FF, 0xFF8000}, false},
    {"horizontal", 487, 90, {8421440, clBlack, clNone, clNone}, true},
    {"horizontal mirror, odd", 301, 40, {clWhite, clBlack, clBlack, clWhite}, true},
    {"system colours", 100, 100, {clBtnFace, clWindowText, clWindowText, clBtnFace}, false},
};

TEST(ShaderPaint, EveryPixelMatchesTheBandModel) {
    for (const TPaintCase& c : PaintCases) {
        TTestShader shader(nullptr);
        shader.SetBounds(0, 0, c.Width, c.Height);
        shader.SetFromColor(c.Colors.From);
        shader.SetToColor(c.Colors.To);
        shader.SetFromColorMirror(c.Colors.FromMirror);
        shader.SetToColorMirror(c.Colors.ToMirror);
        shader.SetDirection(c.Direction);
        ExpectPaintedAsModel(shader, c.Name);
    }
}

// A panel one pixel across and under 128 long is made of 1 x 1 bands, which Wine's Rectangle leaves out.
TEST(ShaderPaint, OnePixelBandsAreNotLost) {
    for (bool direction : {false, true}) {
        TTestShader shader(nullptr);
        shader.SetBounds(0, 0, direction ? 90 : 1, direction ? 1 : 90);
        shader.SetDirection(direction);
        shader.SetFromColorMirror(clWhite);
        ExpectPaintedAsModel(shader, direction ? "one row" : "one column");
    }
}

TEST(ShaderPaint, EveryStylePresetMatchesTheBandModel) {
    for (int style = 0; style < 10; ++style) {
        for (bool direction : {false, true}) {
            TTestShader shader(nullptr);
            shader.SetBounds(0, 0, 487, 90);
            shader.SetDirection(direction);
            shader.ApplyStyle(static_cast<BYTE>(style));
            ExpectPaintedAsModel(shader, "style " + std::to_string(style));
        }
    }
}

TEST(ShaderPaint, NoFromColourDrawsNothing) {
    TTestShader shader(nullptr);
    shader.SetBounds(0, 0, 40, 30);
    shader.SetFromColor(clNone);
    shader.SetFromColorMirror(clWhite);
    EXPECT_FALSE(shader.PaintCoversClient());
    Dib target(40, 30, Untouched);
    {
        TCanvas canvas(target.DC());
        shader.Paint(canvas);
    }
    std::string first;
    EXPECT_EQ(Differences(target, PixelBuffer(40, 30, Untouched), first), 0) << first;

    shader.SetFromColor(clBlack);
    EXPECT_TRUE(shader.PaintCoversClient());
}

TEST(ShaderPaint, StepsRepaintsTheSamePicture) {
    TTestShader shader(nullptr);
    shader.SetBounds(0, 0, 487, 90);
    shader.SetSteps(3);
    EXPECT_EQ(shader.Steps(), 3);
    ExpectPaintedAsModel(shader, "three steps");
    shader.SetSteps(65535);
    ExpectPaintedAsModel(shader, "65535 steps");
}

// Repeated painting must give back every pen, brush and bitmap it makes.
TEST(ShaderPaint, ThousandRepaintsLeakNoGdiObject) {
    THostWindow host(nullptr);
    host.SetBounds(0, 0, 487, 90);
    TTestShader* shader = new TTestShader(&host);
    shader->SetParent(&host);
    shader->SetBounds(0, 0, 487, 90);
    shader->SetFromColorMirror(clBtnFace);
    ::ShowWindow(host.Handle(), SW_SHOWNOACTIVATE);
    PumpMessages();
    Dib target(487, 90, Untouched);

    const long liveBefore = LiveGdiObjects();
    const DWORD systemBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 1000; ++i) {
        shader->PaintTo(target.DC());
        ::RedrawWindow(shader->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    EXPECT_EQ(LiveGdiObjects(), liveBefore);
    const DWORD systemAfter = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    if (systemBefore != 0) {
        EXPECT_EQ(systemAfter, systemBefore);
    }
}

struct TSetterCase {
    const char* Name;
    void (*SetCurrent)(TShader&);
    void (*SetNew)(TShader&);
};

const TSetterCase SetterCases[] = {
    {"FromColor", [](TShader& s) { s.SetFromColor(s.FromColor()); },
     [](TShader& s) { s.SetFromColor(0x123456); }},
    {"ToColor", [](TShader& s) { s.SetToColor(s.ToColor()); }, [](TShader& s) { s.SetToColor(clBtnFace); }},
    {"FromColorMirror", [](TShader& s) { s.SetFromColorMirror(s.FromColorMirror()); },
     [](TShader& s) { s.SetFromColorMirror(clWhite); }},
    {"ToColorMirror", [](TShader& s) { s.SetToColorMirror(s.ToColorMirror()); },
     [](TShader& s) { s.SetToColorMirror(clBlack); }},
    {"Steps", [](TShader& s) { s.SetSteps(s.Steps()); }, [](TShader& s) { s.SetSteps(0); }},
    {"Direction", [](TShader& s) { s.SetDirection(s.Direction()); },
     [](TShader& s) { s.SetDirection(true); }},
};

TEST(ShaderSetters, RepaintOnlyWhenTheValueChanges) {
    for (const TSetterCase& c : SetterCases) {
        TTestShader shader(nullptr);
        c.SetCurrent(shader);
        EXPECT_EQ(shader.Invalidations, 0) << c.Name << " set to its current value";
        c.SetNew(shader);
        EXPECT_EQ(shader.Invalidations, 1) << c.Name << " set to a new value";
        c.SetNew(shader);
        EXPECT_EQ(shader.Invalidations, 1) << c.Name << " set to the new value again";
    }
}

TEST(ShaderSetters, ANewValueLeavesAnUpdateRegionOnTheWindow) {
    THostWindow host(nullptr);
    host.SetBounds(0, 0, 100, 50);
    TShader* shader = new TShader(&host);
    shader->SetParent(&host);
    shader->SetBounds(0, 0, 100, 50);
    ::ShowWindow(host.Handle(), SW_SHOWNOACTIVATE);
    PumpMessages();
    const HWND window = shader->Handle();
    char className[32] = {};
    ::GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "TShader");

    ::ValidateRect(window, nullptr);
    shader->SetToColor(shader->ToColor());
    shader->SetDirection(shader->Direction());
    EXPECT_FALSE(::GetUpdateRect(window, nullptr, FALSE)) << "same values";

    shader->SetToColor(clWhite);
    RECT update{};
    EXPECT_TRUE(::GetUpdateRect(window, &update, FALSE)) << "new value";
    EXPECT_EQ(update.right - update.left, 100);
    EXPECT_EQ(update.bottom - update.top, 50);
}

// The gradient covers every pixel, so erasing first would only make the face flicker.
TEST(ShaderPaint, SkipsTheBackgroundEraseWhileItPaints) {
    THostWindow host(nullptr);
    host.SetBounds(0, 0, 40, 30);
    TShader* shader = new TShader(&host);
    shader->SetParent(&host);
    shader->SetBounds(0, 0, 40, 30);
    shader->SetColor(clWhite);
    host.Handle();
    Dib target(40, 30, Untouched);
    std::string first;

    EXPECT_NE(::SendMessageA(shader->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(target.DC()), 0), 0);
    EXPECT_EQ(Differences(target, PixelBuffer(40, 30, Untouched), first), 0) << first;

    shader->SetFromColor(clNone);
    EXPECT_NE(::SendMessageA(shader->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(target.DC()), 0), 0);
    EXPECT_EQ(Differences(target, PixelBuffer(40, 30, 0xFFFFFF), first), 0) << "panel colour: " << first;
}

TColors ColorsOf(const TShader& shader) {
    return {shader.FromColor(), shader.ToColor(), shader.FromColorMirror(), shader.ToColorMirror()};
}

bool operator==(const TColors& a, const TColors& b) {
    return a.From == b.From && a.To == b.To && a.FromMirror == b.FromMirror && a.ToMirror == b.ToMirror;
}

// What every style number does, told by the shape of the preset table rather than by a copy of it: the
// mirrored styles (4, 5, 9) start their second gradient where the first ends, style 6 is flat button face,
// styles 3 and 7 are one, and 8 and everything above 9 change nothing. Every child is invalidated, in order.
TEST(ShaderApplyStyle, EveryStyleNumberSetsItsRowAndInvalidatesEveryChild) {
    const TColors start{0x010203, 0x040506, 0x070809, 0x0A0B0C};
    std::array<TColors, 256> applied{};
    for (int style = 0; style < 256; ++style) {
        TTestShader shader(nullptr);
        std::vector<int> log;
        new TSpyControl(&shader, log, 0);
        new TSpyPanel(&shader, log, 1);
        new TSpyControl(&shader, log, 2);
        shader.SetFromColor(start.From);
        shader.SetToColor(start.To);
        shader.SetFromColorMirror(start.FromMirror);
        shader.SetToColorMirror(start.ToMirror);
        shader.Invalidations = 0;
        log.clear();

        shader.ApplyStyle(static_cast<BYTE>(style));
        applied[style] = ColorsOf(shader);
        const TColors& c = applied[style];
        const bool changes = style < 10 && style != 8;
        EXPECT_EQ(c == start, !changes) << "style " << style;
        EXPECT_EQ(shader.Invalidations, changes ? 4 : 0) << "style " << style;
        EXPECT_EQ(log, (std::vector<int>{0, 1, 2})) << "style " << style;
        if (!changes) {
            continue;
        }
        const bool mirrored = style == 4 || style == 5 || style == 9;
        EXPECT_EQ(c.FromMirror == clNone, !mirrored) << "style " << style;
        EXPECT_EQ(c.ToMirror == clNone, !mirrored) << "style " << style;
        if (mirrored) {
            EXPECT_EQ(c.FromMirror, c.To) << "style " << style;
        }
        EXPECT_EQ(IsSystemColor(c.From), style == 6) << "style " << style;
    }
    EXPECT_TRUE(applied[6] == (TColors{clBtnFace, clBtnFace, clNone, clNone}));
    EXPECT_TRUE(applied[3] == applied[7]);
    EXPECT_TRUE(applied[0] == (TColors{0xFDEADA, 0xE4AE88, clNone, clNone}));
    EXPECT_TRUE(applied[9] == (TColors{0xF9F5F3, 0xE7DCD5, 0xE7DCD5, 0xFBFAF0}));
}

TEST(ShaderApplyStyle, SameStyleTwiceRepaintsThePanelOnlyOnce) {
    TTestShader shader(nullptr);
    std::vector<int> log;
    new TSpyControl(&shader, log, 7);
    log.clear();
    shader.ApplyStyle(4);
    EXPECT_EQ(shader.Invalidations, 4);
    shader.ApplyStyle(4);
    EXPECT_EQ(shader.Invalidations, 4);
    EXPECT_EQ(log, (std::vector<int>{7, 7}));

    // Style 6 shares nothing with style 4 but its clNone mirror colours.
    shader.ApplyStyle(6);
    EXPECT_EQ(shader.Invalidations, 8);
}

TEST(ShaderStyleInterface, QueryInterfaceFindsTheStyleInterfaceAndIUnknown) {
    TShader shader(nullptr);
    IComponentStyle* const own = &shader;
    const IID styleIid = __uuidof(IComponentStyle);
    // The identifier as style managers know it, in its registry form.
    wchar_t text[40] = {};
    ASSERT_EQ(::StringFromGUID2(styleIid, text, 40), 39);
    EXPECT_STREQ(text, L"{11AC2DDC-C087-4298-AB6E-EA1B5017511B}");
    EXPECT_TRUE(IsEqualIID(IID_IComponentStyle, styleIid));

    void* found = nullptr;
    EXPECT_EQ(own->QueryInterface(styleIid, &found), S_OK);
    EXPECT_EQ(found, static_cast<void*>(own));
    found = nullptr;
    EXPECT_EQ(own->QueryInterface(IID_IUnknown, &found), S_OK);
    EXPECT_EQ(found, static_cast<void*>(own));

    found = own;
    EXPECT_EQ(own->QueryInterface(IID_IDispatch, &found), E_NOINTERFACE);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(own->QueryInterface(styleIid, nullptr), E_POINTER);
}

// A caller that only knows the binary interface finds ApplyStyle in the fourth slot.
TEST(ShaderStyleInterface, ApplyStyleSitsAfterTheThreeIUnknownSlots) {
    TShader shader(nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(shader.QueryInterface(IID_IComponentStyle, reinterpret_cast<void**>(&unknown)), S_OK);
    using ApplyStyleSlot = void(STDMETHODCALLTYPE*)(void*, BYTE);
    void** vtable = *reinterpret_cast<void***>(unknown);
    ApplyStyleSlot applyStyle;
    std::memcpy(&applyStyle, &vtable[3], sizeof applyStyle);
    applyStyle(unknown, 2);
    EXPECT_EQ(shader.FromColor(), 0xCFF0EA);
    EXPECT_EQ(shader.ToColor(), 0x8CC0B1);
}

class TDestructionCountingShader : public TShader {
public:
    TDestructionCountingShader(TComponent* owner, int& destroyed) : TShader(owner), FDestroyed(destroyed) {}
    ~TDestructionCountingShader() override { ++FDestroyed; }

private:
    int& FDestroyed;
};

TEST(ShaderStyleInterface, AddRefAndReleaseNeverFreeThePanel) {
    int destroyed = 0;
    {
        TComponent owner(nullptr);
        auto* shader = new TDestructionCountingShader(&owner, destroyed);
        IComponentStyle* style = shader;
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(style->AddRef(), static_cast<ULONG>(-1));
        }
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(style->Release(), static_cast<ULONG>(-1));
        }
        EXPECT_EQ(destroyed, 0);
        style->ApplyStyle(0);
        EXPECT_EQ(shader->FromColor(), 0xFDEADA);
    }
    EXPECT_EQ(destroyed, 1) << "the owner frees the panel, once";
}

class TOtherVersionShader : public TShader {
public:
    using TShader::TShader;
    std::uint32_t PackedVersion() const override { return 0x0A00FF07; }
};

TEST(ShaderVersion, TextComesFromThePackedVersionAndIgnoresWrites) {
    TShader shader(nullptr);
    EXPECT_EQ(shader.Version(), "1.2.1.1");
    shader.SetVersion("9.9.9.9");
    EXPECT_EQ(shader.Version(), "1.2.1.1");
    shader.SetVersion("");
    EXPECT_EQ(shader.Version(), "1.2.1.1");

    TOtherVersionShader other(nullptr);
    EXPECT_EQ(other.Version(), "10.0.255.7");
}

} // namespace
} // namespace zal
