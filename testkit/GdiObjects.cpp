#include "testkit/GdiObjects.h"

#include "base/Handles.h"

namespace zal::testkit {

namespace {

long Live = 0;

// Installed before main, so that objects made by static constructors are counted too.
const bool Installed = [] {
    GdiObjectHook = [](int change) { Live += change; };
    return true;
}();

} // namespace

long LiveGdiObjects() noexcept {
    return Installed ? Live : 0;
}

} // namespace zal::testkit
