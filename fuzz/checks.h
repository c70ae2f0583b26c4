// What the fuzz targets share: the check that turns a broken expectation
// into a crash libFuzzer reports, and an independent UTF-8 validity test
// (written here rather than taken from the core, so that the core is not
// checked against itself).
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken expectation aborts, which libFuzzer reports as a crash.
#define require(condition) \
    ((condition)           \
         ? (void)0         \
         : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition), std::abort()))

namespace tarvelo::fuzz {

// Lead bytes and continuation bytes only; overlong forms are not looked for.
inline bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

}  // namespace tarvelo::fuzz
