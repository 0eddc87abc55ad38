// A program built the way the tool is: start-up, one tool window with a client-aligned panel, a label and a
// button, the message loop, and the end. Every event is appended to the log file named by the first
// argument. With "fail-start-up" as the second, the form's window class cannot be registered, so start-up
// itself fails.
#include "base/DllSearch.h"
#include "ui/Application.h"
#include "ui/ErrorBox.h"
#include "ui/Button.h"
#include "ui/Label.h"
#include "ui/Panel.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace zal;

const char* LogPath = nullptr;

void Log(const std::string& line) {
    if (!LogPath) {
        return;
    }
    if (std::FILE* file = std::fopen(LogPath, "ab")) {
        std::fputs((line + "\n").c_str(), file);
        std::fclose(file);
    }
}

class TShellForm : public TForm {
public:
    explicit TShellForm(TComponent* owner) : TForm(owner) {
        SetCaption("Atualiza\xE7\xE3o do ZAL");
        SetBorderStyle(bsToolWindow);
        SetPosition(poScreenCenter);
        SetClientSize(487, 90);
        SetBounds(270, 248, Width(), Height());
        auto* panel = new TPanel(this);
        panel->SetParent(this);
        panel->SetAlign(alClient);
        auto* label = new TLabel(this);
        label->SetParent(panel);
        label->SetBounds(19, 9, 448, 16);
        label->SetTransparent(true);
        label->SetCaption("Para concluir a atualiza\xE7\xE3o, pressione o bot\xE3o");
        auto* button = new TButton(this);
        button->SetParent(panel);
        button->SetBounds(159, 47, 169, 28);
        button->SetCaption("Concluir Atualiza\xE7\xE3o");
        Log("text height " + std::to_string(TextHeight()));
        ScaleLayout(96, 13);
    }

protected:
    const char* WindowClassName() const override { return "TShellForm"; }
};

// The system takes class names of up to 256 characters; this one is refused when the window is first made.
class TUnregisterableForm : public TForm {
public:
    explicit TUnregisterableForm(TComponent* owner) : TForm(owner), FName(300, 'F') {}

protected:
    const char* WindowClassName() const override { return FName.c_str(); }

private:
    std::string FName;
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";
    return RunApplication(Title, [] {
        HardenDllSearch();
        LogPath = __argc > 1 ? __argv[1] : nullptr;
        Log("start");
        TApplication application;
        application.Initialize();
        application.SetTitle(Title);
        application.OnSettingsChange = [] { Log("settings"); };
        if (__argc > 2 && std::string(__argv[2]) == "fail-start-up") {
            application.CreateForm<TUnregisterableForm>();
        }
        auto* form = application.CreateForm<TShellForm>();
        form->OnClose = [&application](TComponent*, TCloseAction& action) {
            Log(action == caHide ? "FormClose caHide" : "FormClose with another action");
            application.Terminate();
        };
        int code = application.Run();
        Log("end " + std::to_string(code));
        return code;
    });
}
