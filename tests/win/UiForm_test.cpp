// Forms inside an application: window styles and geometry, the show step, the close operation and its paths,
// focus and the dialog keys, and the scaling of a layout.
#include "tests/win/TestSupport.h"
#include "ui/Application.h"
#include "ui/Button.h"
#include "ui/Form.h"
#include "ui/Label.h"
#include "ui/Panel.h"
#include "core/Scaling.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zal;

constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";

// Built like the tool's window: a tool window with a client-aligned panel holding a label and a button.
class TestForm : public TForm {
public:
    TPanel* Panel;
    TLabel* Label;
    TButton* Button;
    std::vector<std::string>* Log = nullptr;
    bool AllowClose = true;
    int Clicks = 0;

    explicit TestForm(TComponent* owner) : TForm(owner) {
        SetCaption(Title);
        SetBorderStyle(bsToolWindow);
        SetPosition(poScreenCenter);
        SetClientSize(487, 90);
        SetBounds(270, 248, Width(), Height());
        Panel = new TPanel(this);
        Panel->SetParent(this);
        Panel->SetAlign(alClient);
        Label = new TLabel(this);
        Label->SetParent(Panel);
        Label->SetBounds(19, 9, 448, 16);
        Label->SetCaption("Para concluir");
        Button = new TButton(this);
        Button->SetParent(Panel);
        Button->SetBounds(159, 47, 169, 28);
        Button->SetCaption("Concluir");
        Button->OnClick = [this](TComponent*) { ++Clicks; };
    }
    bool CloseQuery() override {
        if (Log) {
            Log->push_back("query");
        }
        return AllowClose;
    }

protected:
    const char* WindowClassName() const override { return "TFormPrincipalTest"; }
};

bool QuitPending() {
    MSG message;
    return ::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

void TakeQuit() {
    MSG message;
    ::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

void DrainQueue() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class UiForm : public testing::Test {
protected:
    void SetUp() override {
        DrainQueue();
        FApplication = std::make_unique<TApplication>();
        FApplication->SetTitle(Title);
        Form = FApplication->CreateForm<TestForm>();
    }
    void TearDown() override {
        FApplication.reset();
        DrainQueue();
    }
    void ShowAndSettle() {
        Form->Show();
        test::ProcessPendingMessages();
    }
    TApplication& App() { return *FApplication; }

    TestForm* Form = nullptr;

private:
    std::unique_ptr<TApplication> FApplication;
};

TEST_F(UiForm, ToolWindowHasExactlyItsStylesOwnerAndClass) {
    HWND window = Form->Handle();
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE)), 0x06C80000u);
    // The system adds WS_EX_WINDOWEDGE to every window with a dialog frame; the form asks for nothing else.
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_EXSTYLE)) & ~WS_EX_WINDOWEDGE, 0x80u);
    EXPECT_EQ(::GetWindow(window, GW_OWNER), App().Handle());
    WNDCLASSA windowClass{};
    ASSERT_TRUE(::GetClassInfoA(::GetModuleHandleA(nullptr), "TFormPrincipalTest", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_DBLCLKS));
    EXPECT_EQ(windowClass.hCursor, ::LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, nullptr);
    char caption[64] = {};
    ::GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, Title);
    EXPECT_FALSE(::IsWindowVisible(window)) << "not visible before the show step";

    ShowAndSettle();
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE)), 0x06C80000u | WS_VISIBLE);
}

TEST_F(UiForm, ClientAreaIsExactAndTheOuterSizeIsTheSystemsToolFrame) {
    HWND window = Form->Handle();
    ShowAndSettle();
    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 487);
    EXPECT_EQ(client.bottom, 90);
    RECT expected{0, 0, 487, 90};
    ::AdjustWindowRectEx(&expected, 0x06C80000, FALSE, WS_EX_TOOLWINDOW);
    RECT outer;
    ::GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, expected.right - expected.left);
    EXPECT_EQ(outer.bottom - outer.top, expected.bottom - expected.top);
    RECT panel;
    ::GetClientRect(Form->Panel->Handle(), &panel);
    EXPECT_EQ(panel.right, 487);
    EXPECT_EQ(panel.bottom, 90);
}

TEST_F(UiForm, FirstShowCentresOnThePrimaryDisplayThenPositionIsDesigned) {
    ShowAndSettle();
    RECT outer;
    ::GetWindowRect(Form->Handle(), &outer);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(outer.top, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    EXPECT_EQ(Form->Position(), poDesigned);

    Form->Hide();
    Form->SetBounds(10, 20, Form->Width(), Form->Height());
    Form->Show();
    ::GetWindowRect(Form->Handle(), &outer);
    EXPECT_EQ(outer.left, 10) << "a second show does not centre again";
    EXPECT_EQ(outer.top, 20);
}

TEST_F(UiForm, WindowLargerThanTheScreenIsPlacedAtZeroNotNegative) {
    int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    Form->SetClientSize(screenWidth + 40, 90);
    ShowAndSettle();
    RECT outer;
    ::GetWindowRect(Form->Handle(), &outer);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, (screenHeight - (outer.bottom - outer.top)) / 2);
    Form->Hide();
    Form->SetPosition(poScreenCenter);
    Form->SetClientSize(300, screenHeight + 40);
    Form->Show();
    ::GetWindowRect(Form->Handle(), &outer);
    EXPECT_EQ(outer.top, 0);
}

TEST_F(UiForm, MaximisedShowFillsTheScreenAndThePanelFollows) {
    Form->SetPosition(poDesigned);
    Form->SetWindowState(wsMaximized);
    ShowAndSettle();
    EXPECT_TRUE(::IsZoomed(Form->Handle()));
    RECT client;
    ::GetClientRect(Form->Handle(), &client);
    EXPECT_GT(client.right, 487);
    EXPECT_GT(client.bottom, 90);
    RECT panel;
    ::GetClientRect(Form->Panel->Handle(), &panel);
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.bottom, client.bottom);
    EXPECT_EQ(Form->Button->Left(), 159) << "children keep their place from the top-left corner";
    EXPECT_EQ(Form->Button->Top(), 47);
    ::ShowWindow(Form->Handle(), SW_RESTORE);
    EXPECT_EQ(Form->WindowState(), wsNormal) << "the state follows the system";
    ::GetClientRect(Form->Panel->Handle(), &panel);
    EXPECT_EQ(panel.right, 487);
}

TEST_F(UiForm, CloseRunsQueryThenOnCloseWithCaHideThenTerminatesAgain) {
    std::vector<std::string> log;
    Form->Log = &log;
    Form->OnClose = [&](TComponent* sender, TCloseAction& action) {
        log.push_back(std::string("OnClose ") + (action == caHide ? "caHide" : "?"));
        EXPECT_EQ(sender, Form);
        EXPECT_FALSE(QuitPending()) << "nothing is posted before the close notification";
        App().Terminate();
        EXPECT_TRUE(QuitPending());
        TakeQuit(); // so the close operation's own post can be seen
    };
    ShowAndSettle();
    Form->Close();
    EXPECT_EQ(log, (std::vector<std::string>{"query", "OnClose caHide"}));
    EXPECT_TRUE(QuitPending()) << "the close operation terminated a second time";
    EXPECT_TRUE(::IsWindowVisible(Form->Handle())) << "the window stays until the loop has ended";
}

TEST_F(UiForm, RefusedCloseQueryAndCaNoneDoNotTerminate) {
    std::vector<std::string> log;
    Form->Log = &log;
    Form->AllowClose = false;
    Form->OnClose = [&](TComponent*, TCloseAction&) { log.push_back("OnClose"); };
    Form->Close();
    EXPECT_EQ(log, std::vector<std::string>{"query"});
    EXPECT_FALSE(QuitPending());

    Form->AllowClose = true;
    Form->OnClose = [&](TComponent*, TCloseAction& action) { action = caNone; };
    Form->Close();
    EXPECT_FALSE(QuitPending());
}

TEST_F(UiForm, CloseOfAnotherFormHidesItWithoutTerminating) {
    auto* second = App().CreateForm<TestForm>();
    ASSERT_EQ(App().MainForm(), Form);
    second->Show();
    second->Close();
    EXPECT_FALSE(QuitPending()) << "only the main form terminates";
    EXPECT_FALSE(second->Visible());
    EXPECT_FALSE(::IsWindowVisible(second->Handle()));
}

TEST_F(UiForm, CloseMessageToTheFormOrToTheApplicationWindowEndsTheLoop) {
    for (bool toApplication : {false, true}) {
        if (toApplication) {
            TearDown();
            SetUp();
        }
        int closes = 0;
        Form->OnClose = [&](TComponent*, TCloseAction& action) {
            ++closes;
            EXPECT_EQ(action, caHide);
            App().Terminate();
        };
        HWND form = Form->Handle();
        HWND application = App().Handle();
        ::PostMessageA(toApplication ? application : form, WM_CLOSE, 0, 0);
        EXPECT_EQ(App().Run(), 0);
        EXPECT_EQ(closes, 1);
        EXPECT_FALSE(::IsWindow(form)) << "the end destroyed the form";
        EXPECT_FALSE(::IsWindow(application));
        EXPECT_EQ(App().MainForm(), nullptr);
    }
}

TEST_F(UiForm, EndSessionEndsTheLoopWithoutOnClose) {
    int closes = 0;
    Form->OnClose = [&](TComponent*, TCloseAction&) { ++closes; };
    ::PostMessageA(App().Handle(), WM_ENDSESSION, FALSE, 0); // the session goes on: nothing happens
    ::PostMessageA(App().Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(App().Run(), 0);
    EXPECT_EQ(closes, 0);
}

TEST_F(UiForm, QueryEndSessionAnswersWithTheCloseQuery) {
    int closes = 0;
    Form->OnClose = [&](TComponent*, TCloseAction&) { ++closes; };
    EXPECT_EQ(::SendMessageA(Form->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    Form->AllowClose = false;
    EXPECT_EQ(::SendMessageA(Form->Handle(), WM_QUERYENDSESSION, 0, 0), FALSE);
    EXPECT_EQ(closes, 0);
    EXPECT_FALSE(QuitPending());
}

// Keys are posted to the focused window and taken by the application's loop, as typed keys would be.
class UiFormKeys : public UiForm {
protected:
    void SetUp() override {
        UiForm::SetUp();
        ShowAndSettle();
        ::GetKeyboardState(FSavedKeys);
    }
    void TearDown() override {
        ::SetKeyboardState(FSavedKeys);
        UiForm::TearDown();
    }
    void HoldKeys(std::initializer_list<int> keys) {
        BYTE state[256];
        ::GetKeyboardState(state);
        for (int key : keys) {
            state[key] = 0x80;
        }
        ::SetKeyboardState(state);
    }
    void Press(UINT key, bool alt = false) {
        HWND target = ::GetFocus();
        LPARAM down = 1 | (static_cast<LPARAM>(::MapVirtualKeyA(key, 0)) << 16) | (alt ? (1 << 29) : 0);
        LPARAM up = down | (1u << 30) | (1u << 31);
        ::PostMessageA(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, down);
        ::PostMessageA(target, alt ? WM_SYSKEYUP : WM_KEYUP, key, up);
        test::ProcessPendingMessages();
    }
    static LONG_PTR ButtonType(TButton* button) {
        return ::GetWindowLongPtrA(button->Handle(), GWL_STYLE) & BS_TYPEMASK;
    }

private:
    BYTE FSavedKeys[256] = {};
};

TEST_F(UiFormKeys, ActivationFocusesTheFirstTabStopWhichLooksDefault) {
    EXPECT_EQ(::GetActiveWindow(), Form->Handle());
    EXPECT_EQ(::GetFocus(), Form->Button->Handle()) << "the panel is no tab stop, the button is";
    EXPECT_EQ(Form->ActiveControl(), Form->Button);
    EXPECT_EQ(ButtonType(Form->Button), BS_DEFPUSHBUTTON);
}

TEST_F(UiFormKeys, EnterClicksTheFocusedButtonOnlyWithoutShiftCtrlOrAlt) {
    const struct {
        const char* Name;
        std::initializer_list<int> Held;
        bool Alt;
        int Clicks;
    } cases[] = {
        {"Enter", {}, false, 1},
        {"Shift+Enter", {VK_SHIFT}, false, 0},
        {"Ctrl+Enter", {VK_CONTROL}, false, 0},
        {"Alt+Enter", {VK_MENU}, true, 0},
    };
    BYTE released[256];
    ::GetKeyboardState(released);
    for (const auto& c : cases) {
        ::SetKeyboardState(released);
        HoldKeys(c.Held);
        Form->Clicks = 0;
        Press(VK_RETURN, c.Alt);
        EXPECT_EQ(Form->Clicks, c.Clicks) << c.Name;
        EXPECT_EQ(::GetFocus(), Form->Button->Handle()) << c.Name;
    }
}

TEST_F(UiFormKeys, SpaceClicksByTheButtonsOwnBehaviour) {
    Press(VK_SPACE);
    EXPECT_EQ(Form->Clicks, 1);
}

TEST_F(UiFormKeys, EscapeDoesNothing) {
    Press(VK_ESCAPE);
    EXPECT_EQ(Form->Clicks, 0);
    EXPECT_FALSE(QuitPending());
    EXPECT_TRUE(::IsWindowVisible(Form->Handle()));
    EXPECT_EQ(::GetFocus(), Form->Button->Handle());
}

TEST_F(UiFormKeys, TabStaysOnTheOnlyTabStop) {
    Press(VK_TAB);
    EXPECT_EQ(::GetFocus(), Form->Button->Handle());
    EXPECT_EQ(Form->Clicks, 0);
}

TEST_F(UiFormKeys, TabAndShiftTabCycleTabStopsAndTheDefaultLookFollows) {
    auto* second = new TButton(Form);
    second->SetParent(Form->Panel);
    second->SetBounds(10, 47, 80, 28);
    auto* skipped = new TButton(Form);
    skipped->SetParent(Form->Panel);
    skipped->SetVisible(false);
    Press(VK_TAB);
    EXPECT_EQ(::GetFocus(), second->Handle());
    EXPECT_EQ(ButtonType(second), BS_DEFPUSHBUTTON);
    EXPECT_EQ(ButtonType(Form->Button), BS_PUSHBUTTON);
    Press(VK_TAB);
    EXPECT_EQ(::GetFocus(), Form->Button->Handle()) << "wraps, skipping the hidden button";
    HoldKeys({VK_SHIFT});
    Press(VK_TAB);
    EXPECT_EQ(::GetFocus(), second->Handle());
}

TEST_F(UiFormKeys, FocusComesBackToTheLastControlOnReactivation) {
    auto* second = new TButton(Form);
    second->SetParent(Form->Panel);
    second->SetFocus();
    ::SetFocus(nullptr);
    ::SendMessageA(Form->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(::GetFocus(), second->Handle());
    EXPECT_EQ(Form->ActiveControl(), second);
}

TEST_F(UiFormKeys, DestroyedFocusedButtonIsForgottenAndTheFirstTabStopTakesOver) {
    auto* second = new TButton(Form);
    second->SetParent(Form->Panel);
    second->SetFocus();
    delete second; // the system would pass the focus to the panel, which is no tab stop
    EXPECT_EQ(Form->ActiveControl(), nullptr);
    ::SendMessageA(Form->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(::GetFocus(), Form->Button->Handle());
    EXPECT_EQ(Form->ActiveControl(), Form->Button);
}

TEST_F(UiForm, ScaleLayoutScalesNothingWhenTheTextHeightMatches) {
    Form->Handle();
    Form->ScaleLayout(ScreenPixelsPerInch(), Form->TextHeight());
    EXPECT_EQ(Form->ClientWidth(), 487);
    EXPECT_EQ(Form->Button->Left(), 159);
}

TEST_F(UiForm, ScaleLayoutScalesChildrenAndClientAreaByTheTextHeightRatio) {
    Form->Handle();
    int measured = Form->TextHeight();
    ASSERT_GT(measured, 0);
    int layout = measured - 2; // as if the layout had been made with a smaller font
    Form->ScaleLayout(ScreenPixelsPerInch(), layout);
    TBounds button = ScaleBounds({159, 47, 169, 28}, measured, layout);
    EXPECT_EQ(
        (TBounds{Form->Button->Left(), Form->Button->Top(), Form->Button->Width(), Form->Button->Height()}),
        button);
    EXPECT_EQ(Form->ClientWidth(), zal::MulDiv(487, measured, layout));
    EXPECT_EQ(Form->ClientHeight(), zal::MulDiv(90, measured, layout));
    RECT panel;
    ::GetClientRect(Form->Panel->Handle(), &panel);
    EXPECT_EQ(panel.right, Form->ClientWidth()) << "the client-aligned panel follows";
}

} // namespace
