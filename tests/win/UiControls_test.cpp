// The component layer without an application object: ownership, painting, fonts, the label, the button and
// scaling.
#include "testkit/Dib.h"
#include "testkit/GdiObjects.h"
#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/Label.h"
#include "ui/Panel.h"
#include "core/Scaling.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zal;
using testkit::Dib;
using testkit::LiveGdiObjects;

DWORD ProcessGdiObjects() {
    return ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
}

constexpr COLORREF Blue = RGB(0, 0, 255);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Green = RGB(0, 255, 0);

class DestructionProbe : public TComponent {
public:
    DestructionProbe(TComponent* owner, std::vector<std::string>& log, std::string name)
        : TComponent(owner), FLog(log), FName(std::move(name)) {}
    ~DestructionProbe() override { FLog.push_back(FName); }

private:
    std::vector<std::string>& FLog;
    std::string FName;
};

class CountingPanel : public TPanel {
public:
    using TPanel::TPanel;
    int Paints = 0;
    bool CoversClient = false;

protected:
    void Paint(TCanvas& canvas) override {
        ++Paints;
        TPanel::Paint(canvas);
    }
    bool PaintCoversClient() const override { return CoversClient; }
};

// A form with a panel, a label on it and a button, as the tool's window is built; no application needed.
struct Tree {
    TForm* Form = new TForm(nullptr);
    CountingPanel* Panel = new CountingPanel(Form);
    TLabel* Label = new TLabel(Form);
    TButton* Button = new TButton(Form);
    Tree() {
        Form->SetClientSize(200, 80);
        Panel->SetParent(Form);
        Panel->SetAlign(alClient);
        Panel->SetColor(static_cast<TColor>(Blue));
        Label->SetParent(Panel);
        Label->SetBounds(5, 5, 0, 0);
        Label->Font().SetColor(clWhite);
        Label->SetTransparent(true);
        Label->SetCaption("MMMM");
        Button->SetParent(Panel);
        Button->SetBounds(100, 40, 80, 25);
        Button->SetCaption("OK");
    }
    ~Tree() { delete Form; }
};

TEST(UiOwnership, DestroyingTheOwnerLeavesNoWindowNoGdiObjectAndNoComponent) {
    long liveBefore = LiveGdiObjects();
    DWORD processBefore = ProcessGdiObjects();
    std::vector<std::string> destroyed;
    HWND form = nullptr;
    HWND panel = nullptr;
    HWND button = nullptr;
    {
        auto* tree = new Tree;
        new DestructionProbe(tree->Panel, destroyed, "owned by the panel");
        new DestructionProbe(tree->Form, destroyed, "owned by the form");
        form = tree->Form->Handle();
        panel = tree->Panel->Handle();
        button = tree->Button->Handle();
        ::ShowWindow(form, SW_SHOWNA);
        ::UpdateWindow(form);
        Dib bitmap(200, 80, White);
        tree->Panel->PaintTo(bitmap.DC());
        EXPECT_GT(LiveGdiObjects(), liveBefore) << "the fonts of label and button exist now";
        delete tree;
    }
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_FALSE(::IsWindow(panel));
    EXPECT_FALSE(::IsWindow(button));
    EXPECT_EQ(destroyed, (std::vector<std::string>{"owned by the form", "owned by the panel"}));
    EXPECT_EQ(LiveGdiObjects(), liveBefore);
    if (processBefore != 0) {
        EXPECT_LE(ProcessGdiObjects(), processBefore);
    }
}

TEST(UiOwnership, AComponentDestroyedFirstLeavesItsOwnerAndParent) {
    Tree tree;
    HWND button = tree.Button->Handle();
    int owned = tree.Form->ComponentCount();
    ASSERT_EQ(tree.Panel->ControlCount(), 2);
    delete tree.Label;
    delete tree.Button;
    EXPECT_EQ(tree.Form->ComponentCount(), owned - 2);
    EXPECT_EQ(tree.Panel->ControlCount(), 0);
    EXPECT_FALSE(::IsWindow(button));
    EXPECT_TRUE(::IsWindow(tree.Panel->Handle()));
    // ~Tree deletes the form; a second delete of label or button would crash here.
}

TEST(UiOwnership, OwnerAndParentMayDiffer) {
    // The panel owns the label but the form is its parent; destroying the panel first must not leave the
    // form with a dangling child, nor must destroying the form first free the label twice.
    for (bool panelFirst : {true, false}) {
        auto* form = new TForm(nullptr);
        auto* panel = new TPanel(form);
        panel->SetParent(form);
        auto* label = new TLabel(panel);
        label->SetParent(form);
        form->Handle();
        if (panelFirst) {
            delete panel;
            EXPECT_EQ(form->ControlCount(), 0);
        }
        delete form;
    }
}

TEST(UiPainting, ThousandRepaintsLeaveTheGdiCountsUnchanged) {
    Tree tree;
    HWND form = tree.Form->Handle();
    ::ShowWindow(form, SW_SHOWNA);
    ::UpdateWindow(form);
    Dib bitmap(200, 80, White);
    tree.Panel->PaintTo(bitmap.DC()); // fonts made once, before counting
    long liveBefore = LiveGdiObjects();
    DWORD processBefore = ProcessGdiObjects();
    int paintsBefore = tree.Panel->Paints;
    for (int i = 0; i < 500; ++i) {
        ::RedrawWindow(tree.Panel->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        tree.Panel->PaintTo(bitmap.DC());
    }
    EXPECT_EQ(tree.Panel->Paints - paintsBefore, 1000) << "every repaint went through Paint";
    EXPECT_EQ(LiveGdiObjects(), liveBefore);
    if (processBefore != 0) {
        EXPECT_EQ(ProcessGdiObjects(), processBefore);
    }
}

TEST(UiPainting, TransparentLabelDrawsOnlyItsLettersOverThePanelFace) {
    Tree tree;
    Dib bitmap(200, 80, Green);
    tree.Panel->PaintTo(bitmap.DC());
    RECT all{0, 0, 200, 80};
    RECT label{tree.Label->Left(), tree.Label->Top(), tree.Label->Left() + tree.Label->Width(),
               tree.Label->Top() + tree.Label->Height()};
    EXPECT_EQ(bitmap.Count(all, Green), 0) << "the panel filled its whole face";
    EXPECT_EQ(bitmap.At(4, 4), Blue);
    int labelArea = (label.right - label.left) * (label.bottom - label.top);
    int blueInside = bitmap.Count(label, Blue);
    EXPECT_GT(labelArea - blueInside, 10) << "the letters are drawn (smoothed edges need not be pure white)";
    EXPECT_GT(bitmap.Count(label, White), 0) << "in the font's colour";
    EXPECT_GT(blueInside, 10) << "the face shows between the letters";
    EXPECT_EQ(bitmap.Count(all, Blue) - blueInside, 200 * 80 - labelArea)
        << "nothing is drawn outside the label's bounds";
}

TEST(UiPainting, OpaqueLabelFillsItsBoundsAndHiddenLabelDrawsNothing) {
    Tree tree;
    tree.Label->SetTransparent(false);
    tree.Label->SetColor(static_cast<TColor>(Red));
    Dib bitmap(200, 80, Green);
    tree.Panel->PaintTo(bitmap.DC());
    RECT label{tree.Label->Left(), tree.Label->Top(), tree.Label->Left() + tree.Label->Width(),
               tree.Label->Top() + tree.Label->Height()};
    EXPECT_EQ(bitmap.Count(label, Blue), 0);
    EXPECT_GT(bitmap.Count(label, Red), 0);

    tree.Label->SetVisible(false);
    Dib hidden(200, 80, Green);
    tree.Panel->PaintTo(hidden.DC());
    EXPECT_EQ(hidden.Count(RECT{0, 0, 200, 80}, Blue), 200 * 80);
}

TEST(UiPainting, PrintClientPaintsWhatPaintToPaints) {
    Tree tree;
    Dib direct(200, 80, Green);
    tree.Panel->PaintTo(direct.DC());
    Dib printed(200, 80, Green);
    ::SendMessageA(tree.Panel->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(printed.DC()), PRF_CLIENT);
    int differences = 0;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 200; ++x) {
            differences += direct.At(x, y) != printed.At(x, y);
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST(UiPainting, PanelErasesWithItsColourUnlessItsPaintCoversTheClientArea) {
    Tree tree;
    Dib erased(200, 80, Green);
    EXPECT_EQ(::SendMessageA(tree.Panel->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(erased.DC()), 0),
              1);
    EXPECT_EQ(erased.At(0, 0), Blue);

    tree.Panel->CoversClient = true;
    Dib skipped(200, 80, Green);
    EXPECT_EQ(::SendMessageA(tree.Panel->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(skipped.DC()), 0),
              1)
        << "still reported as erased, so the system does not erase either";
    EXPECT_EQ(skipped.At(0, 0), Green);
}

TEST(UiPainting, AnExceptionInPaintDoesNotLeaveTheWindowProcedure) {
    class ThrowingPanel : public TPanel {
    public:
        using TPanel::TPanel;

    protected:
        void Paint(TCanvas&) override { throw std::runtime_error("paint failed"); }
    };
    auto* form = new TForm(nullptr);
    auto* panel = new ThrowingPanel(form);
    panel->SetParent(form);
    ::ShowWindow(form->Handle(), SW_SHOWNA);
    ::RedrawWindow(panel->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_TRUE(::IsWindow(panel->Handle())); // reached only if nothing unwound through the system
    delete form;
}

struct LabelCase {
    const char* Caption;
    const char* Face;
    int Height;
    bool Bold;
};

TEST(UiLabel, AutoSizeIsTheDrawTextMeasureOfCaptionAndFont) {
    const LabelCase cases[] = {
        {"Para concluir a atualiza\xE7\xE3o, pressione o bot\xE3o  \"Concluir Atualiza\xE7\xE3o\"", "Arial",
         -13, true},
        {"a\tb", "Arial", -13, false}, // tabs expanded
        {"x&y", "MS Sans Serif", -11, false},
        {"W", "MS Sans Serif", -30, true},
    };
    for (const auto& c : cases) {
        TLabel label(nullptr);
        label.SetBounds(19, 9, 1, 1);
        label.Font().SetName(c.Face);
        label.Font().SetHeight(c.Height);
        label.Font().SetStyle(c.Bold ? fsBold : 0);
        label.Font().SetCharset(ANSI_CHARSET);
        label.SetCaption(c.Caption);

        LOGFONTA logFont{};
        logFont.lfHeight = c.Height;
        logFont.lfWeight = c.Bold ? FW_BOLD : FW_NORMAL;
        logFont.lfCharSet = ANSI_CHARSET;
        lstrcpynA(logFont.lfFaceName, c.Face, LF_FACESIZE);
        HFONT font = ::CreateFontIndirectA(&logFont);
        HDC screen = ::GetDC(nullptr);
        HGDIOBJ old = ::SelectObject(screen, font);
        RECT expected{0, 0, 0, 0};
        ::DrawTextA(screen, c.Caption, -1, &expected, DT_CALCRECT | DT_EXPANDTABS);
        ::SelectObject(screen, old);
        ::ReleaseDC(nullptr, screen);
        ::DeleteObject(font);

        EXPECT_EQ(label.Left(), 19) << c.Caption;
        EXPECT_EQ(label.Top(), 9) << c.Caption;
        EXPECT_EQ(label.Width(), expected.right) << c.Caption;
        EXPECT_EQ(label.Height(), expected.bottom) << c.Caption;
        EXPECT_GT(label.Width(), 0) << c.Caption;
    }
}

TEST(UiLabel, AutoSizeFollowsTheFontAndCanBeSwitchedOff) {
    TLabel label(nullptr);
    label.SetCaption("Concluir");
    int small = label.Width();
    label.Font().SetHeight(-30);
    EXPECT_GT(label.Width(), small);
    label.SetAutoSize(false);
    label.SetBounds(0, 0, 7, 7);
    label.SetCaption("a much longer caption");
    EXPECT_EQ(label.Width(), 7);
}

TEST(UiFont, HandleCarriesExactlyTheFontValues) {
    TFont font;
    font.SetName("Arial");
    font.SetHeight(-13);
    font.SetStyle(fsBold);
    font.SetCharset(ANSI_CHARSET);
    font.SetColor(clWhite);
    LOGFONTA bold{};
    ASSERT_EQ(::GetObjectA(font.Handle(), sizeof bold, &bold), static_cast<int>(sizeof bold));
    EXPECT_EQ(bold.lfHeight, -13);
    EXPECT_EQ(bold.lfWidth, 0);
    EXPECT_EQ(bold.lfEscapement, 0);
    EXPECT_EQ(bold.lfOrientation, 0);
    EXPECT_EQ(bold.lfWeight, 700);
    EXPECT_EQ(bold.lfItalic, 0);
    EXPECT_EQ(bold.lfUnderline, 0);
    EXPECT_EQ(bold.lfStrikeOut, 0);
    EXPECT_EQ(bold.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(bold.lfOutPrecision, OUT_DEFAULT_PRECIS);
    EXPECT_EQ(bold.lfClipPrecision, CLIP_DEFAULT_PRECIS);
    EXPECT_EQ(bold.lfQuality, DEFAULT_QUALITY);
    EXPECT_EQ(bold.lfPitchAndFamily, DEFAULT_PITCH);
    EXPECT_STREQ(bold.lfFaceName, "Arial");

    HFONT before = font.Handle();
    int changes = 0;
    font.OnChange = [&] { ++changes; };
    font.SetStyle(0);
    EXPECT_EQ(changes, 1);
    LOGFONTA regular{};
    ::GetObjectA(font.Handle(), sizeof regular, &regular);
    EXPECT_EQ(regular.lfWeight, 400);
    EXPECT_NE(font.Handle(), before);
    font.SetStyle(0);
    EXPECT_EQ(changes, 1) << "no notification without a change";
}

TEST(UiCanvas, RectangleOutlinesWithThePenFillsWithTheBrushAndExcludesRightAndBottom) {
    Dib bitmap(12, 12, White);
    long liveBefore = LiveGdiObjects();
    HGDIOBJ penBefore = ::GetCurrentObject(bitmap.DC(), OBJ_PEN);
    HGDIOBJ brushBefore = ::GetCurrentObject(bitmap.DC(), OBJ_BRUSH);
    HGDIOBJ fontBefore = ::GetCurrentObject(bitmap.DC(), OBJ_FONT);
    {
        TCanvas canvas(bitmap.DC());
        canvas.SetPenColor(static_cast<TColor>(Red));
        canvas.SetBrushColor(static_cast<TColor>(Green));
        canvas.Rectangle(2, 2, 8, 6);
        // A second colour after drawing: the first pen must be deselected before it is deleted.
        canvas.SetPenColor(static_cast<TColor>(Blue));
        canvas.Rectangle(9, 9, 11, 11);
        RECT text{0, 0, 12, 12};
        canvas.DrawText("", text, DT_LEFT);
    }
    EXPECT_EQ(bitmap.At(2, 2), Red);
    EXPECT_EQ(bitmap.At(7, 5), Red);
    EXPECT_EQ(bitmap.At(4, 3), Green);
    EXPECT_EQ(bitmap.At(8, 3), White) << "right is exclusive";
    EXPECT_EQ(bitmap.At(4, 6), White) << "bottom is exclusive";
    EXPECT_EQ(bitmap.At(9, 9), Blue);
    EXPECT_EQ(::GetCurrentObject(bitmap.DC(), OBJ_PEN), penBefore);
    EXPECT_EQ(::GetCurrentObject(bitmap.DC(), OBJ_BRUSH), brushBefore);
    EXPECT_EQ(::GetCurrentObject(bitmap.DC(), OBJ_FONT), fontBefore);
    EXPECT_EQ(LiveGdiObjects(), liveBefore);
}

TEST(UiColors, ColorToRGBResolvesSystemColoursAndReadsClNoneAsWhite) {
    EXPECT_EQ(ColorToRGB(clBtnFace), ::GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(ColorToRGB(clWindowText), ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(ColorToRGB(0x808040), RGB(64, 128, 128));
    EXPECT_EQ(ColorToRGB(clWhite), RGB(255, 255, 255));
    EXPECT_EQ(ColorToRGB(clNone), RGB(255, 255, 255));
}

TEST(UiButton, IsASuperclassOfButtonWithItsFontCaptionAndClick) {
    Tree tree;
    HWND button = tree.Button->Handle();
    char name[32] = {};
    ::GetClassNameA(button, name, sizeof name);
    EXPECT_STREQ(name, "TButton");
    LONG_PTR style = ::GetWindowLongPtrA(button, GWL_STYLE);
    EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_TRUE(style & WS_TABSTOP);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_EQ(::SendMessageA(button, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON, DLGC_BUTTON)
        << "answers as a button";
    char caption[16] = {};
    ::GetWindowTextA(button, caption, sizeof caption);
    EXPECT_STREQ(caption, "OK");

    tree.Button->Font().SetHeight(-13);
    tree.Button->Font().SetStyle(fsBold);
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageA(button, WM_GETFONT, 0, 0)),
              tree.Button->Font().Handle());
    EXPECT_FALSE(tree.Button->ParentFont());

    std::vector<TComponent*> senders;
    tree.Button->OnClick = [&](TComponent* sender) { senders.push_back(sender); };
    ::SendMessageA(button, BM_CLICK, 0, 0);
    EXPECT_EQ(senders, std::vector<TComponent*>{tree.Button});
}

TEST(UiControl, FromHandleKnowsOnlyWindowsOfThisLayer) {
    Tree tree;
    EXPECT_EQ(TWinControl::FromHandle(tree.Panel->Handle()), tree.Panel);
    EXPECT_EQ(TWinControl::FromHandle(tree.Button->Handle()), tree.Button);
    EXPECT_EQ(TWinControl::FromHandle(tree.Form->Handle()), tree.Form);
    HWND plain = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, tree.Form->Handle(), nullptr,
                                   nullptr, nullptr);
    EXPECT_EQ(TWinControl::FromHandle(plain), nullptr);
    EXPECT_EQ(TWinControl::FromHandle(::GetDesktopWindow()), nullptr);
    EXPECT_EQ(TWinControl::FromHandle(nullptr), nullptr);
}

BOOL CALLBACK CollectDescendant(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

// Asking a child for its window before its parent had one made the child's window twice (the parent's too,
// when the parent was itself a child): the first copies stayed behind, bound to their objects, and once the
// objects were freed, destroying the form ran the window procedure on freed memory.
TEST(UiControl, RegressionChildWindowMadeBeforeItsParentsWasMadeTwice) {
    TForm form(nullptr);
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    auto* button = new TButton(&form);
    button->SetParent(panel);

    HWND made = button->Handle();

    EXPECT_EQ(::GetParent(made), panel->Handle());
    EXPECT_EQ(::GetParent(panel->Handle()), form.Handle());
    std::vector<HWND> descendants;
    ::EnumChildWindows(form.Handle(), CollectDescendant, reinterpret_cast<LPARAM>(&descendants));
    EXPECT_EQ(descendants, (std::vector<HWND>{panel->Handle(), made}));
}

TEST(UiControl, ClientAlignedChildFillsTheClientAreaAfterEveryResize) {
    Tree tree;
    tree.Form->Handle();
    RECT client;
    ::GetClientRect(tree.Panel->Handle(), &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 80);
    tree.Form->SetClientSize(300, 150);
    ::GetClientRect(tree.Panel->Handle(), &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 150);
    EXPECT_EQ(tree.Panel->Width(), 300);
    EXPECT_EQ(tree.Panel->Height(), 150);
}

TEST(UiControl, ParentFontIsFollowedUntilTheControlSetsItsOwn) {
    Tree tree;
    tree.Form->Font().SetName("Arial");
    tree.Form->Font().SetHeight(-20);
    EXPECT_EQ(tree.Panel->Font().Height(), -20);
    // Setting its colour made the label's font its own: it no longer follows.
    EXPECT_FALSE(tree.Label->ParentFont());
    EXPECT_EQ(tree.Label->Font().Name(), "MS Sans Serif");
    tree.Panel->Font().SetHeight(-9);
    EXPECT_FALSE(tree.Panel->ParentFont());
    tree.Form->Font().SetHeight(-30);
    EXPECT_EQ(tree.Panel->Font().Height(), -9);
    tree.Panel->SetParentFont(true);
    EXPECT_EQ(tree.Panel->Font().Height(), -30);
}

TEST(UiControl, ChangeScaleScalesChildrenRecursivelyAndOwnFontsOnly) {
    TForm form(nullptr);
    form.SetClientSize(487, 90);
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    panel->SetBounds(0, 0, 487, 90);
    auto* label = new TLabel(&form);
    label->SetParent(panel);
    label->SetAutoSize(false);
    label->SetBounds(19, 9, 448, 16);
    label->Font().SetName("Arial");
    label->Font().SetHeight(-13);
    auto* button = new TButton(&form);
    button->SetParent(panel);
    button->SetBounds(159, 47, 169, 28);
    button->Font().SetHeight(-13);
    int panelFont = panel->Font().Height();

    form.ChangeScale(16, 13);

    int ppi = ScreenPixelsPerInch();
    EXPECT_EQ((TBounds{label->Left(), label->Top(), label->Width(), label->Height()}),
              (TBounds{23, 11, 552, 20}));
    EXPECT_EQ((TBounds{button->Left(), button->Top(), button->Width(), button->Height()}),
              (TBounds{196, 58, 208, 34}));
    EXPECT_EQ(label->Font().Height(), ScaleFontHeight(-13, 16, 13, ppi));
    EXPECT_EQ(button->Font().Height(), ScaleFontHeight(-13, 16, 13, ppi));
    EXPECT_EQ(panel->Font().Height(), panelFont) << "the panel takes the window's font, which is not scaled";
    EXPECT_EQ(form.ClientWidth(), 599);
    EXPECT_EQ(form.ClientHeight(), 111);
}

TEST(UiControl, TabOrderFollowsInsertionAndCanBeChanged) {
    TForm form(nullptr);
    auto* first = new TButton(&form);
    auto* second = new TButton(&form);
    auto* third = new TButton(&form);
    for (TButton* b : {first, second, third}) {
        b->SetParent(&form);
    }
    EXPECT_EQ(first->TabOrder(), 0);
    EXPECT_EQ(third->TabOrder(), 2);
    third->SetTabOrder(0);
    EXPECT_EQ(third->TabOrder(), 0);
    EXPECT_EQ(first->TabOrder(), 1);
    EXPECT_EQ(second->TabOrder(), 2);
    first->SetTabOrder(99);
    EXPECT_EQ(first->TabOrder(), 2);
}

TEST(UiScaling, MulDivAgreesWithTheSystem) {
    const int values[] = {0, 1, -1, 2, -2, 3, 7, -7, 11, -11, 13, 72, 96, 120, 65536, INT_MAX, -INT_MAX};
    for (int a : values) {
        for (int b : values) {
            for (int c : values) {
                ASSERT_EQ(zal::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " * " << b << " / " << c;
            }
        }
    }
}

} // namespace
