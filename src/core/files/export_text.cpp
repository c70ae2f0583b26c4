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

    for (int column = 1; column <= 5; ++column) {
        text += '\t';
        text += list.caption(column);
    }
    text += "\r\n";

    int number = 0;
    for (const auto& row : snapshot.rows) {
        text += std::to_string(++number);
        text += '\t';
        text += acquisition::FormatSampleTime(row.timeMs);
        text += '\t';
        for (double value : row.channel) {
            text += common::formatValue(value, decimalSeparator);
            text += '\t';
        }
        text += "\r\n";
    }
    return text;
}

bool saveExportFile(const std::string& path, std::string_view text, std::string* error) {
    return common::writeFileAtomically(path, common::utf8ToCp1252(text), error);
}

}  // namespace tarvelo::files
