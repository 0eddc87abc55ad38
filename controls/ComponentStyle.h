#pragma once
// IComponentStyle: a style manager restyles every component of a family by a style number. The vtable is
// IUnknown's three slots followed by ApplyStyle, so any COM-aware caller can use it.
#include <windows.h>
#include <unknwn.h>

namespace zal {

// {11AC2DDC-C087-4298-AB6E-EA1B5017511B}
inline constexpr IID IID_IComponentStyle = {
    0x11AC2DDC, 0xC087, 0x4298, {0xAB, 0x6E, 0xEA, 0x1B, 0x50, 0x17, 0x51, 0x1B}};

struct IComponentStyle : public IUnknown {
    virtual void STDMETHODCALLTYPE ApplyStyle(BYTE style) = 0;
};

} // namespace zal

__CRT_UUID_DECL(zal::IComponentStyle, 0x11AC2DDC, 0xC087, 0x4298, 0xAB, 0x6E, 0xEA, 0x1B, 0x50, 0x17, 0x51,
                0x1B)
