#include "publish/payload.h"

#include <charconv>
#include <cmath>

#include "acquisition/sample_list.h"

namespace tarvelo::publish {

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void appendSamplePayload(std::string& out, uint64_t n, const acquisition::SampleRow& row,
                         const std::array<bool, 4>& connected) {
    char number[24];
    out += "{\"n\": ";
    out.append(number, std::to_chars(number, number + sizeof number, n).ptr);
    out += ", \"time\": ";
    const std::string time = acquisition::FormatSampleTimeIso(row.timeMs);
    if (time.empty())
        out += "null";
    else
        appendJsonString(out, time);
    out += ", \"values\": [";
    for (std::size_t c = 0; c < 4; ++c) {
        if (c > 0)
            out += ", ";
        if (connected[c])
            appendJsonNumber(out, row.channel[c]);
        else
            out += "null";
    }
    out += "]}";
}

std::string channelsPayload(const Channels& channels) {
    std::string out = "{\"channels\": [";
    for (std::size_t c = 0; c < channels.size(); ++c) {
        if (c > 0)
            out += ", ";
        out += "{\"caption\": ";
        appendJsonString(out, channels[c].caption);
        out += ", \"unit\": ";
        if (channels[c].unit)
            appendJsonString(out, *channels[c].unit);
        else
            out += "null";
        out += '}';
    }
    out += "]}";
    return out;
}

std::string statusPayload(const Status& status) {
    std::string out = "{\"status\": ";
    out += status.online ? "\"online\"" : "\"offline\"";
    if (!status.online) {
        out += ", \"reason\": ";
        appendJsonString(out, status.reason);
    }
    out += ", \"samples\": " + std::to_string(status.samples);
    out += ", \"dropped\": " + std::to_string(status.dropped);
    if (status.undelivered)
        out += ", \"undelivered\": " + std::to_string(*status.undelivered);
    out += '}';
    return out;
}

std::string lastWillPayload() {
    return "{\"status\": \"offline\", \"reason\": \"connection lost\"}";
}

}  // namespace tarvelo::publish
