// ZALUpdate: finishes an update that ZAL staged beside its installed files.
#include "app/ProcessInputs.h"
#include "app/UPrincipal.h"
#include "base/DllSearch.h"
#include "ui/Application.h"
#include "ui/ErrorBox.h"

#include <windows.h>

#include <cstdlib>

// std::terminate ends the process here without the library's verbose handler, whose demangler is a sixth of
// the executable; a window program has no console to print the exception's type on anyway. It has to be
// defined in the executable's own object, where it takes the library's place.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

using namespace zal;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";
    return RunApplication(Title, [] {
        HardenDllSearch();
        DecideCurrentMultiByteSettings();

        TApplication application;
        // A lambda, not the function itself: a std::function that holds a plain function pointer links the
        // runtime's type information for pointer and function types, which nothing else here needs.
        application.OnSettingsChange = [] { RedecideMultiByteSettings(); };
        application.Initialize();
        application.SetTitle(Title);
        application.CreateForm<TFormPrincipal>();
        return application.Run();
    });
}
