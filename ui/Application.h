#pragma once
// The application object: the hidden, zero-sized application window that carries the taskbar button and the
// title, the main form, the message loop with its dialog-key filter, and the end of the run. An error that
// escapes a handler goes to the error box (ui/ErrorBox) over the application window. One per process;
// Application points at it while it exists.
#include "ui/Component.h"
#include "ui/Form.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zal {

class TApplication : public TComponent {
public:
    // Reads the show command and makes the application window.
    TApplication();
    ~TApplication() override;

    HWND Handle() const noexcept { return FHandle; }
    HICON Icon() const noexcept { return FIcon; }

    // Initialises COM for this thread; it is uninitialised at the end only when this succeeded.
    void Initialize();

    // The application window's text: the taskbar button's text and the error box's caption.
    std::string Title() const;
    void SetTitle(std::string_view title);

    // Makes a form owned by the application; the first one becomes the main form, with its window made.
    template <typename T>
    T* CreateForm() {
        T* form = new T(this);
        if (!FMainForm) {
            FMainForm = form;
            form->Handle();
        }
        return form;
    }
    TForm* MainForm() const noexcept { return FMainForm; }

    // Shows the main form as the show command says, runs the loop until terminated, then ends the run.
    // Returns the process's exit code.
    int Run();
    // The end of the run: hides the owned windows, destroys the components and the application window, and
    // uninitialises COM. Runs once; returns the exit code, 0.
    int Finish();

    // Posts the quit message; the loop ends when it takes it.
    void Terminate();

    // One step of the loop: handles one message, or waits when none is there.
    void HandleMessage();
    // Handles one message through the dialog-key filter; false when none was waiting.
    bool ProcessMessage();

    // The error box for the exception being handled, one that escaped a handler, captioned with the title;
    // a SilentAbort shows nothing. Called from a catch block only.
    void HandleException();
    void ShowException(std::string_view message);

    void Minimize();
    void Restore();

    // Shows the zero-sized application window while any form is visible, and hides it when none is.
    void UpdateVisible();

    // Runs when the system's settings change (WM_WININICHANGE) or the taskbar was re-created.
    std::function<void()> OnSettingsChange;

private:
    friend class TForm;
    void AddForm(TForm* form);
    void RemoveForm(TForm* form);
    void FormActivated(TForm* form) noexcept { FLastActiveForm = form; }
    TForm* LastActiveForm() const noexcept { return FLastActiveForm; }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    void WMClose();
    void WMEndSession(WPARAM ending);
    bool WMSysCommand(WPARAM command);
    bool WMSetFocus();
    void SettingsChanged();
    void CreateHandle();
    bool IsKeyMessage(const MSG& message);

    HWND FHandle = nullptr;
    HICON FIcon = nullptr;
    int FShowCommand = SW_SHOWDEFAULT;
    UINT FTaskbarCreated = 0;
    bool FComInitialized = false;
    bool FTerminated = false;
    bool FFinished = false;
    bool FShownByRule = false;
    std::string FTitle;
    TForm* FMainForm = nullptr;
    TForm* FLastActiveForm = nullptr;
    std::vector<TForm*> FForms;
};

extern TApplication* Application;

} // namespace zal
