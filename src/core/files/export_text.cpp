#include "files/export_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/atomic_file.h"
#include "common/encoding.h"

namespace tarvelo::files {

std::string exportText(const acquisition::MeasurementMemory& memory,
                       const acquisition::SampleList& list, char decimalSeparator) {
    const auto snapshot = memory.snapshot();
    std::string text;
    // Number, time and four values come to about 100 bytes a line.
    text.reserve(128 + snapshot.rows.size() * 112);

    text += exportHeaderLine(list);
    uint64_t number = 0;
    for (const auto& row : snapshot.rows)
        appendExportLine(text, ++number, row, decimalSeparator);
    return text;
}

std::string exportHeaderLine(const acquisition::SampleList& list) {
    std::string line;
    for (int column = 1; column <= 5; ++column) {
        line += '\t';
        line += list.caption(column);
    }
    line += "\r\n";
    return line;
}

namespace {

// The time text of FormatSampleTime, with the date and time of the last
// second kept per thread: a recording formats many samples of one second.
void appendSampleTime(std::string& out, double timeMs) {
    if (std::isnan(timeMs))
        return;  // could not be read: empty
    if (!(timeMs >= 0.0) || std::trunc(timeMs / 1000.0) > 4294967295.0) {
        out += acquisition::kInvalidTimeText;
        return;
    }
    thread_local double cachedSeconds = -1.0;
    thread_local std::string prefix;  // "dd.mm.yyyy hh.mm.ss."
    const double seconds = std::trunc(timeMs / 1000.0);
    if (seconds != cachedSeconds) {
        prefix = acquisition::FormatSampleTime(seconds * 1000.0);
        prefix.resize(prefix.size() - 3);
        cachedSeconds = seconds;
    }
    out += prefix;
    const auto millis = static_cast<int>(static_cast<int64_t>(std::trunc(timeMs)) % 1000);
    out += static_cast<char>('0' + millis / 100);
    out += static_cast<char>('0' + millis / 10 % 10);
    out += static_cast<char>('0' + millis % 10);
}

// common::formatValue without its allocation.
void appendValue(std::string& out, double value, char decimalSeparator) {
    if (std::isnan(value))
        return;  // could not be read: empty
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 5);
    if (result.ec != std::errc())
        return;
    std::replace(text, result.ptr, '.', decimalSeparator);
    out.append(text, result.ptr);
}

}  // namespace

void appendExportLine(std::string& out, uint64_t number, const acquisition::SampleRow& row,
                      char decimalSeparator) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
    out += '\t';
    appendSampleTime(out, row.timeMs);
    out += '\t';
    for (double value : row.channel) {
        appendValue(out, value, decimalSeparator);
        out += '\t';
    }
    out += "\r\n";
}

bool saveExportFile(const std::string& path, std::string_view text, std::string* error) {
    return common::writeFileAtomically(path, common::utf8ToCp1252(text), error);
}

}  // namespace tarvelo::files
