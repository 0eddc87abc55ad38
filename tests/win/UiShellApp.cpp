// A program that starts up the way the tool does, up to its main form, whose window the system refuses to
// make: so start-up itself fails, outside the message loop.
#include "base/DllSearch.h"
#include "ui/Application.h"
#include "ui/ErrorBox.h"

#include <string>

namespace {

using namespace zal;

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
        TApplication application;
        application.Initialize();
        application.SetTitle(Title);
        application.CreateForm<TUnregisterableForm>();
        return application.Run();
    });
}
