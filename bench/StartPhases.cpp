// bench_start_phases
// The tool's start-up, step by step as its entry point takes them, each step timed with the performance
// counter, up to the first paint of every window. It explains where the tool's start differs from the
// minimal program's, which bench_launcher can only time as a whole. One line:
//   phases to_main=MS settings=MS application=MS initialize=MS title=MS create_form=MS show=MS paint=MS
// to_main runs from the process's creation time to the entry point (loader, DLLs, runtime start-up). Then
// it runs on like the tool until its window is closed.
#include "app/ProcessInputs.h"
#include "app/UPrincipal.h"
#include "base/DllSearch.h"
#include "bench/BenchSupport.h"
#include "ui/Application.h"

#include <windows.h>

#include <cstdio>

namespace {

using namespace zal;

double MillisecondsSinceCreation() {
    FILETIME creation{}, exitTime{}, kernel{}, user{}, now{};
    ::GetProcessTimes(::GetCurrentProcess(), &creation, &exitTime, &kernel, &user);
    ::GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(creation)) / 10000.0;
}

} // namespace

int main() {
    const double toMain = MillisecondsSinceCreation();
    bench::Stopwatch clock;
    double last = 0;
    const auto lap = [&] {
        const double now = clock.Milliseconds();
        const double step = now - last;
        last = now;
        return step;
    };

    HardenDllSearch();
    DecideCurrentMultiByteSettings();
    const double settings = lap();
    TApplication application;
    application.OnSettingsChange = [] { RedecideMultiByteSettings(); };
    const double made = lap();
    application.Initialize();
    const double initialized = lap();
    application.SetTitle("Atualiza\xE7\xE3o do ZAL");
    const double titled = lap();
    TFormPrincipal* form = application.CreateForm<TFormPrincipal>();
    const double created = lap();
    form->Show();
    const double shown = lap();
    while (!bench::Painted(form->Handle())) {
        application.HandleMessage();
    }
    const double painted = lap();

    std::printf(
        "phases to_main=%.2f settings=%.2f application=%.2f initialize=%.2f title=%.2f create_form=%.2f "
        "show=%.2f paint=%.2f\n",
        toMain, settings, made, initialized, titled, created, shown, painted);
    std::fflush(stdout);
    // On as the tool goes on, so that whoever started it closes it the same way.
    return application.Run();
}
