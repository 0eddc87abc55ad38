// ZALUpdate: finishes an update that ZAL staged beside its installed files.
#include "app/ProcessInputs.h"
#include "app/UPrincipal.h"
#include "base/DllSearch.h"
#include "ui/Application.h"

#include <windows.h>

using namespace zal;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";
    return RunApplication(Title, [] {
        HardenDllSearch();
        DecideCurrentMultiByteSettings();

        TApplication application;
        application.OnSettingsChange = RedecideMultiByteSettings;
        application.Initialize();
        application.SetTitle(Title);
        application.CreateForm<TFormPrincipal>();
        return application.Run();
    });
}
