#include "common/numbers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace tarvelo::common {

std::string formatFixed(double value, int decimals, char decimalSeparator) {
    decimals = std::clamp(decimals, 0, 100);
    // std::to_chars ignores the process locale (which the window layer may
    // change) and prints what printf's "%.*f" prints, "-0.00000" included.
    std::string text(320 + static_cast<std::size_t>(decimals), '\0');
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return {};
    text.resize(static_cast<std::size_t>(result.ptr - text.data()));
    std::replace(text.begin(), text.end(), '.', decimalSeparator);
    return text;
}

}  // namespace tarvelo::common
