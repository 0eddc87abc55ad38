#pragma once
// The GDI objects that the tool's wrappers hold, counted through their hook: the system does not report a
// process's GDI objects under Wine, so this count is what proves that painting leaks none.

namespace zal::testkit {

// The wrappers' GDI objects alive now, counted from the start of the program.
long LiveGdiObjects() noexcept;

} // namespace zal::testkit
