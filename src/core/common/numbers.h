#pragma once

#include <string>

namespace tarvelo::common {

// printf("%.*f") with the given decimal separator and no thousands separator.
// The windows pass the separator of the user's regional settings. Not a
// number (a value that could not be read) gives the empty text.
std::string formatFixed(double value, int decimals, char decimalSeparator);

// "%.5f": channel values and statistics.
inline std::string formatValue(double value, char decimalSeparator) {
    return formatFixed(value, 5, decimalSeparator);
}

}  // namespace tarvelo::common
