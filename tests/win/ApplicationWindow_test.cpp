// The application object: its hidden window, title, visibility rule, the error box, settings notifications,
// COM and the end of the run.
#include "base/DllSearch.h"
#include "base/Win32Error.h"
#include "testkit/ErrorBoxWatcher.h"
#include "tests/win/TestSupport.h"
#include "ui/Application.h"
#include "ui/Button.h"
#include "ui/ErrorBox.h"
#include "ui/Panel.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zal;
using zal::test::ProcessPendingMessages;
using zal::testkit::ErrorBoxSeen;
using zal::testkit::ErrorBoxWatcher;

constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";

// Records WM_CANCELMODE, which the error box sends to the window holding the mouse capture.
class CapturePanel : public TPanel {
public:
    using TPanel::TPanel;
    int CancelModes = 0;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CANCELMODE) {
            ++CancelModes;
        }
        return TPanel::WndProc(message, wParam, lParam);
    }
};

class ShellForm : public TForm {
public:
    CapturePanel* Panel;
    TButton* Button;
    std::function<void()> Action;
    int Clicks = 0;
    bool* VisibleAtDestruction = nullptr;

    explicit ShellForm(TComponent* owner) : TForm(owner) {
        SetBorderStyle(bsToolWindow);
        SetPosition(poScreenCenter);
        SetClientSize(300, 80);
        Panel = new CapturePanel(this);
        Panel->SetParent(this);
        Panel->SetAlign(alClient);
        Button = new TButton(this);
        Button->SetParent(Panel);
        Button->SetBounds(100, 30, 100, 28);
        Button->OnClick = [this](TComponent*) {
            ++Clicks;
            if (Action) {
                Action();
            }
        };
    }
    ~ShellForm() override {
        if (VisibleAtDestruction && HandleAllocated()) {
            *VisibleAtDestruction = ::IsWindowVisible(Handle()) != FALSE;
        }
    }
};

void DrainQueue() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class ApplicationWindow : public testing::Test {
protected:
    void SetUp() override {
        DrainQueue();
        FApplication = std::make_unique<TApplication>();
    }
    void TearDown() override {
        FApplication.reset();
        DrainQueue();
    }
    TApplication& App() { return *FApplication; }
    ShellForm* ShowForm() {
        App().SetTitle(Title);
        auto* form = App().CreateForm<ShellForm>();
        form->Show();
        ProcessPendingMessages();
        return form;
    }
    std::unique_ptr<TApplication> FApplication;
};

TEST_F(ApplicationWindow, IsAHiddenZeroSizedPopupAtTheScreenCentre) {
    HWND window = App().Handle();
    ASSERT_TRUE(::IsWindow(window));
    EXPECT_EQ(Application, &App());
    char name[32] = {};
    ::GetClassNameA(window, name, sizeof name);
    EXPECT_STREQ(name, "TApplication");
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE)), 0x84CA0000u);
    // The system adds WS_EX_WINDOWEDGE to a window with a dialog frame; the application asks for nothing.
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_EXSTYLE)) & ~WS_EX_WINDOWEDGE, 0u);
    RECT rect;
    ::GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, ::GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(rect.top, ::GetSystemMetrics(SM_CYSCREEN) / 2);
    EXPECT_EQ(rect.right, rect.left);
    EXPECT_EQ(rect.bottom, rect.top);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);
}

TEST_F(ApplicationWindow, WindowMenuKeepsRestoreMinimizeAndClose) {
    HMENU menu = ::GetSystemMenu(App().Handle(), FALSE);
    ASSERT_NE(menu, nullptr);
    for (UINT gone : {SC_MAXIMIZE, SC_SIZE, SC_MOVE}) {
        EXPECT_EQ(::GetMenuState(menu, gone, MF_BYCOMMAND), static_cast<UINT>(-1)) << std::hex << gone;
    }
    for (UINT kept : {SC_RESTORE, SC_MINIMIZE, SC_CLOSE}) {
        EXPECT_NE(::GetMenuState(menu, kept, MF_BYCOMMAND), static_cast<UINT>(-1)) << std::hex << kept;
    }
}

TEST_F(ApplicationWindow, FirstTextIsTheExecutableNameCutAtTheDotAndLoweredAfterTheFirstLetter) {
    EXPECT_EQ(App().Title(), "Applicationwindow_test");
}

TEST_F(ApplicationWindow, TitleIsTheWindowTextByteForByte) {
    App().SetTitle(Title);
    char text[64] = {};
    int length = ::GetWindowTextA(App().Handle(), text, sizeof text);
    EXPECT_EQ(std::string(text, length), std::string("Atualiza\xE7\xE3o do ZAL"));
    EXPECT_EQ(length, 18);
    EXPECT_EQ(App().Title(), Title);
}

TEST_F(ApplicationWindow, IsVisibleExactlyWhileAFormIsVisible) {
    auto* form = App().CreateForm<ShellForm>();
    EXPECT_FALSE(::IsWindowVisible(App().Handle()));
    form->Show();
    EXPECT_TRUE(::IsWindowVisible(App().Handle()));
    RECT rect;
    ::GetWindowRect(App().Handle(), &rect);
    EXPECT_EQ(rect.right - rect.left, 0) << "shown, but still without size";
    form->Hide();
    EXPECT_FALSE(::IsWindowVisible(App().Handle()));
    form->Show();
    EXPECT_TRUE(::IsWindowVisible(App().Handle()));
}

TEST_F(ApplicationWindow, VisibilityRuleLeavesAWindowSomeoneElseHidAlone) {
    auto* form = App().CreateForm<ShellForm>();
    form->Show();
    ::ShowWindow(App().Handle(), SW_HIDE);
    form->Hide();
    form->Show();
    EXPECT_FALSE(::IsWindowVisible(App().Handle())) << "the rule acts only on the visibility it gave itself";
}

TEST_F(ApplicationWindow, MinimisedStartShowsOnlyTheTaskbarButtonUntilRestored) {
    auto* form = App().CreateForm<ShellForm>();
    form->SetWindowState(wsMinimized);
    // A restore that reaches a tool not minimised is no restore: passed on to the system, it would show and
    // activate the hidden application window.
    ::SendMessageA(App().Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    ProcessPendingMessages();
    EXPECT_FALSE(::IsWindowVisible(App().Handle())) << "restored before it was minimised";
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    App().Minimize();
    EXPECT_TRUE(::IsIconic(App().Handle()));
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    ::SendMessageA(App().Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    ProcessPendingMessages();
    EXPECT_FALSE(::IsIconic(App().Handle()));
    RECT rect;
    ::GetWindowRect(App().Handle(), &rect);
    EXPECT_EQ(rect.left, ::GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(rect.right - rect.left, 0);
    EXPECT_EQ(rect.bottom - rect.top, 0);
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
    EXPECT_EQ(form->WindowState(), wsNormal);
    ::GetWindowRect(form->Handle(), &rect);
    EXPECT_EQ(rect.left, (::GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2) << "centred";
}

TEST(ErrorBoxText, AddsAFullStopOnlyAfterAByteAboveIt) {
    const struct {
        const char* Message;
        const char* Text;
    } cases[] = {
        {"", ""},
        {"Falhou.", "Falhou."},
        {"Erro!", "Erro!"}, // '!' is 0x21, before '.'
        {"abc ", "abc "},   // a blank is 0x20
        {"x-", "x-"},       // 0x2D
        {"x/", "x/."},      // 0x2F sorts after '.'
        {"Arquivo", "Arquivo."},
        {"7", "7."},
        {"Atualiza\xE7\xE3", "Atualiza\xE7\xE3."}, // bytes above 0x7F sort after it too
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorBoxText(c.Message), c.Text) << c.Message;
    }
}

TEST_F(ApplicationWindow, ErrorFromAClickShowsTheBoxWithTitleAndMessageAndTheLoopGoesOn) {
    ShellForm* form = ShowForm();
    HWND application = App().Handle();
    HWND formWindow = form->Handle();
    const struct {
        std::function<void()> Throw;
        std::string Text;
    } cases[] = {
        {[] { throw std::runtime_error("Falha ao copiar"); }, "Falha ao copiar."},
        {[] { throw std::runtime_error("Erro!"); }, "Erro!"},
        {[] { throw std::runtime_error(""); }, ""},
        {[] { throw Win32Error(ERROR_FILE_NOT_FOUND); }, ErrorBoxText(SystemErrorText(ERROR_FILE_NOT_FOUND))},
        {[] { throw 42; }, ""}, // no std::exception: a box with no text, but a box
    };
    for (const auto& c : cases) {
        form->Action = c.Throw;
        bool applicationEnabled = true;
        bool formEnabled = true;
        ErrorBoxWatcher watcher(application, [&](HWND) {
            applicationEnabled = ::IsWindowEnabled(application) != FALSE;
            formEnabled = ::IsWindowEnabled(formWindow) != FALSE;
        });
        ::PostMessageA(form->Button->Handle(), BM_CLICK, 0, 0);
        ProcessPendingMessages();
        const ErrorBoxSeen& seen = watcher.Stop();
        ASSERT_TRUE(seen.Found) << c.Text;
        EXPECT_EQ(seen.Caption, Title);
        EXPECT_EQ(seen.Text, c.Text);
        EXPECT_EQ(seen.Buttons, 1);
        EXPECT_TRUE(seen.OkButton);
        EXPECT_TRUE(seen.ErrorIcon);
        EXPECT_FALSE(applicationEnabled) << "disabled while the box shows";
        EXPECT_FALSE(formEnabled);
        EXPECT_TRUE(::IsWindowEnabled(application)) << "enabled again afterwards";
        EXPECT_TRUE(::IsWindowEnabled(formWindow));
        EXPECT_EQ(::GetActiveWindow(), formWindow) << "the active window is restored";
        EXPECT_EQ(::GetFocus(), form->Button->Handle()) << "and the focus";
    }
    // The loop goes on and the window still answers.
    form->Action = nullptr;
    form->Clicks = 0;
    ::PostMessageA(form->Button->Handle(), BM_CLICK, 0, 0);
    ProcessPendingMessages();
    EXPECT_EQ(form->Clicks, 1);
    char text[8];
    EXPECT_GE(::SendMessageA(formWindow, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 0);
}

TEST_F(ApplicationWindow, ErrorFromTheEnterKeyPathIsCaughtByTheLoop) {
    ShellForm* form = ShowForm();
    form->Action = [] { throw std::runtime_error("Sem acesso"); };
    ASSERT_EQ(::GetFocus(), form->Button->Handle());
    ErrorBoxWatcher watcher(App().Handle());
    ::PostMessageA(form->Button->Handle(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ProcessPendingMessages();
    const ErrorBoxSeen& seen = watcher.Stop();
    EXPECT_TRUE(seen.Found);
    EXPECT_EQ(seen.Text, "Sem acesso.");
    EXPECT_EQ(form->Clicks, 1);
}

TEST_F(ApplicationWindow, CaptureHolderIsCancelledBeforeTheBox) {
    ShellForm* form = ShowForm();
    form->Action = [form] {
        ::SetCapture(form->Panel->Handle());
        throw std::runtime_error("x");
    };
    ErrorBoxWatcher watcher(App().Handle());
    ::PostMessageA(form->Button->Handle(), BM_CLICK, 0, 0);
    ProcessPendingMessages();
    EXPECT_TRUE(watcher.Stop().Found);
    EXPECT_GE(form->Panel->CancelModes, 1);
    ::ReleaseCapture();
}

TEST_F(ApplicationWindow, SilentAbortShowsNothing) {
    ShellForm* form = ShowForm();
    form->Action = [] { throw SilentAbort(); };
    ErrorBoxWatcher watcher(App().Handle());
    ::PostMessageA(form->Button->Handle(), BM_CLICK, 0, 0);
    ProcessPendingMessages(); // would block in the box, closed by the watcher, if one opened
    EXPECT_FALSE(watcher.Stop().Found);
    EXPECT_EQ(form->Clicks, 1);
    EXPECT_TRUE(::IsWindowEnabled(form->Handle()));
}

TEST_F(ApplicationWindow, SettingsChangeAndANewTaskbarReachTheCallback) {
    int calls = 0;
    App().OnSettingsChange = [&] { ++calls; };
    ::SendMessageA(App().Handle(), WM_WININICHANGE, 0, 0);
    EXPECT_EQ(calls, 1);
    ::SendMessageA(App().Handle(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(calls, 2);
    ::SendMessageA(App().Handle(), WM_NULL, 0, 0);
    EXPECT_EQ(calls, 2);
}

TEST_F(ApplicationWindow, ComIsUninitialisedAtTheEndOnlyWhenItWasInitialised) {
    App().Initialize();
    ASSERT_EQ(::CoInitialize(nullptr), S_FALSE) << "this thread's apartment exists";
    ::CoUninitialize();
    App().Finish();
    EXPECT_EQ(::CoInitialize(nullptr), S_OK) << "the end released the application's apartment";
    ::CoUninitialize();
}

TEST_F(ApplicationWindow, EndHidesOwnedWindowsThenDestroysComponentsAndTheWindow) {
    App().SetTitle(Title);
    auto* form = App().CreateForm<ShellForm>();
    bool visibleAtDestruction = true;
    form->VisibleAtDestruction = &visibleAtDestruction;
    form->Show();
    HWND formWindow = form->Handle();
    HWND application = App().Handle();
    EXPECT_EQ(App().Finish(), 0);
    EXPECT_FALSE(visibleAtDestruction) << "hidden before it was destroyed";
    EXPECT_FALSE(::IsWindow(formWindow));
    EXPECT_FALSE(::IsWindow(application));
    EXPECT_EQ(App().ComponentCount(), 0);
    EXPECT_EQ(App().Finish(), 0) << "a second end does nothing";
}

TEST_F(ApplicationWindow, OnlyOneApplicationPerProcess) {
    EXPECT_THROW(TApplication second, std::logic_error);
    EXPECT_EQ(Application, &App());
}

TEST(HardenDllSearch, IsInForceWhereTheSystemOffersIt) {
    EXPECT_TRUE(HardenDllSearch());
}

} // namespace
