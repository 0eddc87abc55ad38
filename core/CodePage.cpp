#include "core/CodePage.h"

#include <charconv>

namespace zal {

unsigned ParseCodePage(std::string_view text, unsigned fallback) {
    // The system hands the value over as a C string, so a terminating NUL ends it. Anything but plain decimal
    // digits that fit is not a code page number: a sign, a blank or a trailing letter means the text is not
    // what it should be, and the process's own code page is the safer answer.
    text = text.substr(0, text.find('\0'));
    if (text.empty()) {
        return fallback;
    }
    unsigned value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
    if (error != std::errc() || stop != end) {
        return fallback;
    }
    return value;
}

} // namespace zal
