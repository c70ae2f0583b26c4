// Reads arbitrary bytes as instrument replies: the field split, the number
// reader and every reply check of the command catalogue. Besides memory
// errors it checks what callers rely on: numbers are finite, texts handed on
// are valid UTF-8 of bounded length, and the field split consumes its input.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "checks.h"
#include "device/replies.h"

namespace {

using tarvelo::fuzz::validUtf8;
using namespace tarvelo::device;

// A Windows-1252 character is at most three bytes of UTF-8.
void requireText(const std::string& text, std::size_t maxSourceBytes) {
    require(validUtf8(text));
    require(text.size() <= 3 * maxSourceBytes);
}

// The echoes the reply checks look for; the first input byte picks one, so
// most inputs get past the echo check.
constexpr const char* kEchoes[] = {"#X00", "#Z75", "#M01", "#M11",  "#M21", "#M31",
                                   "#M40", "#M51", "#M62", "#Z001", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view echo = kEchoes[data[0] % std::size(kEchoes)];
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string reply = std::string(echo) + std::string(body);

    // The field split: a field never holds the separator, the rest shrinks on
    // every split that finds one and never exceeds 255 characters after it.
    std::string rest(body);
    for (int i = 0; i < 64; ++i) {
        const std::size_t before = rest.size();
        const bool hasBar = rest.find('|') != std::string::npos;
        const std::string field = SplitField(rest);
        require(field.find('|') == std::string::npos);
        if (!hasBar) {
            require(field.empty() && rest.size() == before);
            break;
        }
        require(rest.size() < before && rest.size() <= 255);
    }

    require(std::isfinite(ParseDeviceNumber(body)));
    require(std::isfinite(ParseDeviceNumber(reply)));

    if (const auto sample = parseCurrentSample(reply)) {
        for (double value : sample->channel)
            require(std::isfinite(value));
        require(std::isfinite(sample->timeMs));
    }
    for (int channel = 1; channel <= 4; ++channel)
        (void)selectChannelAccepted(reply, channel);
    if (const auto unit = parseUnit(reply))
        requireText(*unit, 20);
    (void)parseBatchCount(reply);
    for (const char* prefix : {"#M11", "#M21", "#M31"}) {
        if (const auto fields = parseFourFields(reply, prefix)) {
            for (const std::string& field : *fields) {
                require(field.find('.') == std::string::npos);
                requireText(field, 255);
            }
        }
    }
    if (const auto time = parseBatchTime(reply)) {
        require(std::isfinite(time->timeMs));
        requireText(time->batch, 255);
        requireText(time->batchIndex, 255);
    }
    for (int sensor = 1; sensor <= 4; ++sensor) {
        if (const auto text = parseSensorText(reply, "#M5", sensor))
            requireText(*text, 255);
        if (const auto text = parseSensorText(reply, "#M6", sensor))
            requireText(*text, 255);
    }
    return 0;
}
