#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"

namespace tarvelo::files {

// The text of the clipboard and of the ".asc" file, built from the memory
// (not from the list), in UTF-8:
//   line 1: a tab, then the list's captions of columns 1..5 separated by tabs
//   then per row, oldest first, numbered from 1: the number, a tab, the time
//   text, a tab, and each channel value ("%.5f" with `decimalSeparator`)
//   followed by a tab.
// Every line ends with CR LF, the last one too.
std::string exportText(const acquisition::MeasurementMemory& memory,
                       const acquisition::SampleList& list, char decimalSeparator);

// The first line of that text: a tab before each of the captions 1..5, CR LF.
std::string exportHeaderLine(const acquisition::SampleList& list);
// Appends the line of the sample numbered `number` to `out`: the number, the
// time text and the four values, each followed by a tab, then CR LF. The line
// is plain ASCII, so it is the same in UTF-8 and in Windows-1252.
void appendExportLine(std::string& out, uint64_t number, const acquisition::SampleRow& row,
                      char decimalSeparator);

// Writes the text to the ".asc" file in Windows-1252, replacing the file
// atomically; false with a reason (errno set) when that failed (the old
// file stays).
bool saveExportFile(const std::string& path, std::string_view text, std::string* error = nullptr);

}  // namespace tarvelo::files
