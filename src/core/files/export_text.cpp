#include "files/export_text.h"

#include "common/atomic_file.h"
#include "common/encoding.h"
#include "common/numbers.h"

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

void appendExportLine(std::string& out, uint64_t number, const acquisition::SampleRow& row,
                      char decimalSeparator) {
    out += std::to_string(number);
    out += '\t';
    out += acquisition::FormatSampleTime(row.timeMs);
    out += '\t';
    for (double value : row.channel) {
        out += common::formatValue(value, decimalSeparator);
        out += '\t';
    }
    out += "\r\n";
}

bool saveExportFile(const std::string& path, std::string_view text, std::string* error) {
    return common::writeFileAtomically(path, common::utf8ToCp1252(text), error);
}

}  // namespace tarvelo::files
