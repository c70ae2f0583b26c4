#include "device/replies.h"

#include <charconv>
#include <cstring>

#include "common/encoding.h"

namespace tarvelo::device {

namespace {

// Of a field reply only the first 255 characters after the echo are read.
constexpr std::size_t kFieldTextLength = 255;
// A unit of "#Z75" is at most 20 characters.
constexpr std::size_t kUnitLength = 20;
constexpr std::string_view kNotConnected = "N.C.  ";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool hasPrefix(std::string_view reply, std::string_view prefix) {
    return reply.size() >= prefix.size() && reply.substr(0, prefix.size()) == prefix;
}

// Characters 5 to 259 of a reply (1-based): the part after the echo.
std::string afterEcho(std::string_view reply) {
    if (reply.size() <= 4)
        return {};
    return std::string(reply.substr(4, kFieldTextLength));
}

std::string withArgument(const char* command, int64_t argument) {
    return command + std::to_string(argument);
}

}  // namespace

std::string SplitField(std::string& rest) {
    const std::size_t bar = rest.find('|');
    if (bar == std::string::npos)
        return {};
    std::string field = rest.substr(0, bar);
    rest = rest.substr(bar + 1, kFieldTextLength);
    return field;
}

double ParseDeviceNumber(std::string_view text) {
    auto isNumberStart = [](char c) { return c == '+' || c == '-' || isDigit(c); };
    auto isNumberChar = [](char c) {
        return c == '+' || c == '-' || c == ',' || c == '.' || isDigit(c);
    };

    std::size_t pos = 0;
    while (pos < text.size() && !isNumberStart(text[pos]))
        ++pos;
    std::size_t end = pos;
    while (end < text.size() && isNumberChar(text[end]))
        ++end;
    const std::string_view collected = text.substr(pos, end - pos);

    // Valid: an optional leading sign, digits with at most one decimal mark
    // ("." and "," alike), at least one digit.
    std::string normal;
    normal.reserve(collected.size());
    std::size_t i = 0;
    if (i < collected.size() && (collected[i] == '+' || collected[i] == '-')) {
        if (collected[i] == '-')
            normal.push_back('-');
        ++i;
    }
    bool separator = false;
    bool digit = false;
    for (; i < collected.size(); ++i) {
        const char c = collected[i];
        if (isDigit(c)) {
            digit = true;
            normal.push_back(c);
        } else if ((c == ',' || c == '.') && !separator) {
            separator = true;
            normal.push_back('.');
        } else {
            return 0.0;
        }
    }
    if (!digit)
        return 0.0;

    // from_chars is exact (correctly rounded) and independent of the locale.
    double value = 0.0;
    const auto result = std::from_chars(normal.data(), normal.data() + normal.size(), value,
                                        std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != normal.data() + normal.size())
        return 0.0;
    return value;
}

std::string selectChannelCommand(int channel) {
    return withArgument("#Z00", channel);
}
std::string batchValuesCommand(int32_t record) {
    return withArgument("#M11", record);
}
std::string batchUpperPeaksCommand(int32_t record) {
    return withArgument("#M21", record);
}
std::string batchLowerPeaksCommand(int32_t record) {
    return withArgument("#M31", record);
}
std::string batchTimeCommand(int32_t record) {
    return withArgument("#M40", record);
}
std::string batchUnitCommand(int sensor, int32_t record) {
    return withArgument("#M5", sensor) + std::to_string(record);
}
std::string batchSerialCommand(int sensor, int32_t record) {
    return withArgument("#M6", sensor) + std::to_string(record);
}

std::optional<CurrentSample> parseCurrentSample(std::string_view reply) {
    if (!hasPrefix(reply, kCmdCurrentSample))
        return std::nullopt;
    std::string rest = afterEcho(reply);
    CurrentSample sample{};
    for (double& value : sample.channel) {
        const std::string field = SplitField(rest);
        // A channel that is not connected stands as "N.C.  " and counts as 0.
        value = field == kNotConnected ? 0.0 : ParseDeviceNumber(field);
    }
    sample.timeMs = ParseDeviceNumber(SplitField(rest));
    return sample;
}

bool selectChannelAccepted(std::string_view reply, int channel) {
    return reply == selectChannelCommand(channel);
}

std::optional<std::string> parseUnit(std::string_view reply) {
    if (!hasPrefix(reply, kCmdUnit))
        return std::nullopt;
    // Counted in the instrument's bytes, before the conversion to UTF-8.
    const std::string_view unit = reply.size() > 4 ? reply.substr(4, kUnitLength) : "";
    return common::cp1252ToUtf8(unit);
}

std::optional<int32_t> parseBatchCount(std::string_view reply) {
    if (!hasPrefix(reply, kCmdBatchCount))
        return std::nullopt;
    const std::string text = afterEcho(reply);
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // The integer conversion skips the blanks before the number; the blanks
    // an instrument pads the count with after it are no part of it either.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (first != last && blank(*first))
        ++first;
    while (last != first && blank(last[-1]))
        --last;
    if (first != last && *first == '+')
        ++first;
    int32_t count = 0;
    const auto result = std::from_chars(first, last, count, 10);
    if (first == last || result.ec != std::errc() || result.ptr != last)
        return 0;
    return count;
}

std::optional<std::array<std::string, 4>> parseFourFields(std::string_view reply,
                                                          std::string_view prefix) {
    if (!hasPrefix(reply, prefix.substr(0, 4)))
        return std::nullopt;
    std::string commaReply(reply);
    for (char& c : commaReply)
        if (c == '.')
            c = ',';
    std::string rest = afterEcho(commaReply);
    std::array<std::string, 4> fields;
    for (std::string& field : fields)
        field = common::cp1252ToUtf8(SplitField(rest));
    return fields;
}

std::optional<BatchTime> parseBatchTime(std::string_view reply) {
    if (!hasPrefix(reply, "#M40"))
        return std::nullopt;
    std::string rest = afterEcho(reply);
    BatchTime time;
    time.timeMs = ParseDeviceNumber(SplitField(rest));
    time.batch = common::cp1252ToUtf8(SplitField(rest));
    time.batchIndex = common::cp1252ToUtf8(SplitField(rest));
    return time;
}

std::optional<std::string> parseSensorText(std::string_view reply, std::string_view prefix,
                                           int sensor) {
    if (sensor < 0 || sensor > 9)
        return std::nullopt;
    const std::string echo = std::string(prefix.substr(0, 3)) + static_cast<char>('0' + sensor);
    if (!hasPrefix(reply, echo))
        return std::nullopt;
    return common::cp1252ToUtf8(afterEcho(reply));
}

}  // namespace tarvelo::device
