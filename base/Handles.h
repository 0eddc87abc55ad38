#pragma once
// One owner per handle: UniqueHandle closes what it holds exactly once, can be moved and never copied.
// The scoped helpers pair BeginPaint/EndPaint, GetDC/ReleaseDC and SelectObject with its restore.
#include <windows.h>

#include <utility>

namespace zal {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : FHandle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : FHandle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return FHandle != Traits::Invalid(); }

    Handle Release() noexcept { return std::exchange(FHandle, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) noexcept {
        Handle old = std::exchange(FHandle, handle);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

private:
    Handle FHandle = Traits::Invalid();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

// Handles whose failure value is null rather than INVALID_HANDLE_VALUE: access tokens, processes, events.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { ::FindClose(handle); }
};

// Told of every GDI object that a wrapper takes (+1) and deletes (-1). Null in the tool; the test and
// benchmark builds set it to count, since the system does not report a process's GDI objects everywhere
// and a leak would otherwise go unseen.
inline void (*GdiObjectHook)(int change) = nullptr;

template <typename H>
struct GdiObjectTraits {
    using Handle = H;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept {
        ::DeleteObject(handle);
        if (GdiObjectHook) {
            GdiObjectHook(-1);
        }
    }
};

// Takes ownership of a freshly created GDI object.
template <typename H>
UniqueHandle<GdiObjectTraits<H>> OwnGdiObject(H handle) noexcept {
    if (handle && GdiObjectHook) {
        GdiObjectHook(+1);
    }
    return UniqueHandle<GdiObjectTraits<H>>(handle);
}

struct MemoryDCTraits {
    using Handle = HDC;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::DeleteDC(handle); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDC = UniqueHandle<MemoryDCTraits>;

// GetDC/ReleaseDC for a window, or for the screen when the window is null.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : FWindow(window), FDC(::GetDC(window)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() {
        if (FDC) {
            ::ReleaseDC(FWindow, FDC);
        }
    }
    HDC Get() const noexcept { return FDC; }

private:
    HWND FWindow;
    HDC FDC;
};

class PaintScope {
public:
    explicit PaintScope(HWND window) noexcept : FWindow(window) { ::BeginPaint(window, &FPaint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(FWindow, &FPaint); }
    HDC DC() const noexcept { return FPaint.hdc; }

private:
    HWND FWindow;
    PAINTSTRUCT FPaint{};
};

// Selects an object into a DC and puts the previous one back when the scope ends.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ object) noexcept : FDC(dc), FOld(::SelectObject(dc, object)) {}
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;
    ~SelectScope() {
        if (FOld && FOld != HGDI_ERROR) {
            ::SelectObject(FDC, FOld);
        }
    }

private:
    HDC FDC;
    HGDIOBJ FOld;
};

} // namespace zal
