#pragma once
// The number of a code page as the system's locale data spells it. Portable.
#include <string_view>

namespace zal {

// The code page named by LOCALE_IDEFAULTANSICODEPAGE's text, or fallback (GetACP) when it is not a number:
// only decimal digits that fit in an unsigned count, up to a NUL; no sign, blank or other byte.
unsigned ParseCodePage(std::string_view text, unsigned fallback);

} // namespace zal
