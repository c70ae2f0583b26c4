#include "files/csv_text.h"

#include "common/numbers.h"

namespace tarvelo::files {

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    field += '"';
    return field;
}

std::string csvHeaderLine(const acquisition::SampleList& list) {
    std::string line = "Number";
    for (int column = 1; column <= 5; ++column) {
        line += ',';
        line += csvField(list.caption(column));
    }
    line += kCsvLineEnd;
    return line;
}

void appendCsvLine(std::string& out, uint64_t number, const acquisition::SampleRow& row) {
    out += std::to_string(number);
    out += ',';
    out += acquisition::FormatSampleTimeIso(row.timeMs);
    for (double value : row.channel) {
        out += ',';
        out += common::formatValue(value, '.');
    }
    out += kCsvLineEnd;
}

std::string csvText(std::span<const acquisition::SampleRow> rows,
                    const acquisition::SampleList& list) {
    std::string text = csvHeaderLine(list);
    text.reserve(128 + rows.size() * 96);
    uint64_t number = 0;
    for (const auto& row : rows)
        appendCsvLine(text, ++number, row);
    return text;
}

}  // namespace tarvelo::files
