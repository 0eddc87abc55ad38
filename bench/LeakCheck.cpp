// bench_leaks [REPAINTS] [BOXES]
// The tool's window, maximised, repainted REPAINTS times (default 1000) through WM_PAINT, then BOXES error
// boxes (default 100) shown through the application's error path and closed with OK by a helper thread.
// Snapshots of the process's handles and memory are taken after a warm-up, after the repaints and after
// the boxes; the first use of a font, a theme part or the box's dialog template allocates for good, which
// is not a leak, so the warm-up pays for it. One line per snapshot:
//   snapshot NAME gdi=N user=N handles=N probed_handles=N private_kb=N private_committed_kb=N
//            pagefile_kb=N wrapper_gdi=N windows=N
#include "app/UPrincipal.h"
#include "base/Handles.h"
#include "base/Win32Error.h"
#include "bench/BenchSupport.h"
#include "testkit/ErrorBoxWatcher.h"
#include "testkit/GdiObjects.h"
#include "ui/Application.h"

#include <psapi.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

namespace {

using namespace zal;

BOOL CALLBACK CountWindow(HWND window, LPARAM data) {
    ++*reinterpret_cast<long*>(data);
    ::EnumChildWindows(window, CountWindow, data);
    return TRUE;
}

// Windows of this thread, children included: what USER objects the tool makes, where the system does not
// count them.
long ThreadWindows() {
    long count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Open kernel handles, found by asking the system about every handle value in turn; Wine answers 0 to
// GetProcessHandleCount, so both are shown.
long ProbedHandles() {
    long count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

// Committed private memory, summed over the address space: what Windows calls private bytes, counted the
// same way under Wine, which leaves PrivateUsage at 0.
unsigned long long PrivateCommittedKb() {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; ::VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address) {
            break;
        }
    }
    return total / 1024;
}

void Snapshot(const char* name) {
    HANDLE self = ::GetCurrentProcess();
    DWORD handles = 0;
    ::GetProcessHandleCount(self, &handles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    std::printf("snapshot %s gdi=%lu user=%lu handles=%lu probed_handles=%ld private_kb=%llu "
                "private_committed_kb=%llu pagefile_kb=%llu wrapper_gdi=%ld windows=%ld\n",
                name, ::GetGuiResources(self, GR_GDIOBJECTS), ::GetGuiResources(self, GR_USEROBJECTS),
                handles, ProbedHandles(), static_cast<unsigned long long>(memory.PrivateUsage / 1024),
                PrivateCommittedKb(), static_cast<unsigned long long>(memory.PagefileUsage / 1024),
                testkit::LiveGdiObjects(), ThreadWindows());
    std::fflush(stdout);
}

// Each counter must see one object more while the object exists, or its zero deltas would prove nothing.
bool CountersSeeObjects() {
    const long handles = ProbedHandles();
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const bool handleSeen = ProbedHandles() == handles + 1;
    ::CloseHandle(event);

    const long gdi = testkit::LiveGdiObjects();
    bool gdiSeen = false;
    {
        UniquePen pen = OwnGdiObject(::CreatePen(PS_SOLID, 1, RGB(1, 2, 3)));
        gdiSeen = testkit::LiveGdiObjects() == gdi + 1;
    }

    const unsigned long long privateKb = PrivateCommittedKb();
    void* block = ::VirtualAlloc(nullptr, 1 << 20, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const bool memorySeen = PrivateCommittedKb() == privateKb + 1024;
    ::VirtualFree(block, 0, MEM_RELEASE);

    const long windows = ThreadWindows();
    HWND window =
        ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const bool windowSeen = ThreadWindows() == windows + 1;
    ::DestroyWindow(window);

    std::printf("counters handle=%d gdi=%d memory=%d window=%d\n", handleSeen, gdiSeen, memorySeen,
                windowSeen);
    return handleSeen && gdiSeen && memorySeen && windowSeen;
}

// Presses OK on every error box that the application window owns, one after the other, for as long as it
// runs. One thread for all boxes, so that no thread of the benchmark's own comes and goes in the counts.
class BoxPresser {
public:
    explicit BoxPresser(HWND owner)
        : FThread([this, owner] {
              while (!FStop) {
                  HWND box = testkit::FindOwnedBox(owner);
                  if (!box || !::IsWindowVisible(box)) {
                      ::Sleep(2);
                      continue;
                  }
                  if (FPressed == 0) {
                      FFirstText = testkit::ReadBox(box).Text;
                  }
                  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                  while (!FStop && ::IsWindow(box)) {
                      ::Sleep(1);
                  }
                  ++FPressed;
              }
          }) {}
    BoxPresser(const BoxPresser&) = delete;
    BoxPresser& operator=(const BoxPresser&) = delete;
    ~BoxPresser() {
        FStop = true;
        FThread.join();
    }
    int Pressed() const noexcept { return FPressed; }
    const std::string& FirstText() const noexcept { return FFirstText; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<int> FPressed{0};
    std::string FFirstText;
    std::thread FThread;
};

} // namespace

int main(int argc, char** argv) {
    const int repaints = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int boxes = argc > 2 ? std::atoi(argv[2]) : 100;

    TApplication application;
    application.SetTitle("Atualiza\xE7\xE3o do ZAL");
    TFormPrincipal* form = application.CreateForm<TFormPrincipal>();
    form->SetWindowState(wsMaximized);
    form->Show();
    while (application.ProcessMessage()) {
    }

    const auto repaint = [&] {
        ::RedrawWindow(form->Handle(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        while (application.ProcessMessage()) {
        }
    };
    // A file held by another process: the error that the tool shows most.
    const auto errorBox = [&] {
        try {
            throw Win32Error(ERROR_SHARING_VIOLATION);
        } catch (...) {
            application.HandleException();
        }
        while (application.ProcessMessage()) {
        }
    };

    if (!CountersSeeObjects()) {
        return 1;
    }
    BoxPresser presser(application.Handle());
    for (int k = 0; k < 20; ++k) {
        repaint();
    }
    for (int k = 0; k < 3; ++k) {
        errorBox();
    }
    const int warmBoxes = presser.Pressed();

    Snapshot("before");
    for (int k = 0; k < repaints; ++k) {
        repaint();
    }
    Snapshot("after-repaints");
    for (int k = 0; k < boxes; ++k) {
        errorBox();
    }
    Snapshot("after-boxes");

    RECT client{};
    ::GetClientRect(form->Handle(), &client);
    std::printf("window client=%ldx%ld maximised=%d pending_paint=%d\n", client.right, client.bottom,
                ::IsZoomed(form->Handle()) ? 1 : 0, ::GetUpdateRect(form->Handle(), nullptr, FALSE) ? 1 : 0);
    std::printf("boxes pressed=%d text=\"%s\"\n", presser.Pressed() - warmBoxes, presser.FirstText().c_str());
    return presser.Pressed() - warmBoxes == boxes ? 0 : 1;
}
