#include "common/encoding.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iconv.h>

namespace tarvelo::common {

namespace {

// One converter per thread and direction: an iconv descriptor carries state
// and must not be used by two threads at once.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

iconv_t toUtf8() {
    thread_local Converter converter("UTF-8", "WINDOWS-1252");
    return converter.valid() ? converter.get() : nullptr;
}

iconv_t toCp1252() {
    thread_local Converter converter("WINDOWS-1252", "UTF-8");
    return converter.valid() ? converter.get() : nullptr;
}

// The five bytes Windows-1252 leaves undefined; glibc rejects them.
bool isUndefinedCp1252(unsigned char byte) {
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

// Length of the well-formed UTF-8 sequence at `p` and its code point, or 0
// when the bytes there are not one.
std::size_t decodeUtf8(const unsigned char* p, std::size_t available, uint32_t& codePoint) {
    const unsigned char lead = p[0];
    std::size_t length;
    uint32_t min;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// Runs `cd` over the input. Whenever iconv stops at a byte sequence it
// cannot convert, `onStop` appends a replacement and returns how many input
// bytes it consumed (at least 1).
template <typename OnStop>
std::string convert(iconv_t cd, std::string_view input, std::size_t outFactor, OnStop onStop) {
    std::string out;
    out.reserve(input.size() * outFactor + 4);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state

    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1))
            break;
        if (error == E2BIG)
            continue;
        // EILSEQ or EINVAL (an incomplete sequence at the end): replace and go on.
        const std::size_t used = onStop(reinterpret_cast<const unsigned char*>(in), inLeft, out);
        in += used;
        inLeft -= used;
    }
    return out;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view bytes) {
    iconv_t cd = toUtf8();
    auto onStop = [](const unsigned char* p, std::size_t, std::string& out) -> std::size_t {
        // Only the undefined bytes stop the converter; they become the C1
        // control characters of the same value.
        if (isUndefinedCp1252(*p)) {
            out.push_back(static_cast<char>(0xC2));
            out.push_back(static_cast<char>(*p));
        } else {
            out.push_back('?');
        }
        return 1;
    };
    if (!cd) {
        // No converter available: keep ASCII, replace the rest.
        std::string out;
        for (unsigned char c : bytes)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    return convert(cd, bytes, 3, onStop);
}

std::string utf8ToCp1252(std::string_view text) {
    iconv_t cd = toCp1252();
    auto onStop = [](const unsigned char* p, std::size_t left, std::string& out) -> std::size_t {
        uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(p, left, codePoint);
        if (length == 0) {
            out.push_back('?');  // not UTF-8: one '?' per byte
            return 1;
        }
        if (codePoint < 0x100 && isUndefinedCp1252(static_cast<unsigned char>(codePoint))) {
            out.push_back(static_cast<char>(codePoint));
        } else {
            out.push_back('?');  // no Windows-1252 character for it
        }
        return length;
    };
    if (!cd) {
        std::string out;
        for (unsigned char c : text)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    return convert(cd, text, 1, onStop);
}

std::string repairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(p, left, codePoint);
        if (length == 0) {
            out.append("\xEF\xBF\xBD");
            ++p, --left;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), length);
        p += length, left -= length;
    }
    return out;
}

}  // namespace tarvelo::common
