#pragma once

#include <cstdint>
#include <string>

#include "acquisition/sample_list.h"

namespace tarvelo::files {

inline constexpr const char* kWorksheetName = "Tabelle1";
// The most data rows a workbook holds below its header row.
inline constexpr uint64_t kWorkbookRowLimit = 1048575;

// Writes a new workbook (.xlsx) at `path` with one worksheet "Tabelle1":
//   A1 empty, B1..F1 the list's captions of columns 1..5;
//   for list row k = 1, 2, ...: A(k+1) = k, B..F(k+1) = the row's texts of
//   columns 1..5 with the decimal point "." (every "," replaced by ".").
// The cells are what a spreadsheet makes of the texts typed in: the numbers
// of columns A and C..F are number cells (C..F shown with five decimals,
// "0.00000"), row 1 and column B text cells. Columns A..F are wide enough
// for their longest text also in a wider font than the workbook's own. An empty text writes no cell: the spreadsheet shows it
// as empty, as it does when an empty text is typed in. The file is replaced
// in one step (an existing file stays as it was when the export fails).
// False with a reason on failure, and errno set to the system's error (0
// when the failure is not one of the system's).
bool writeWorkbook(const std::string& path, const acquisition::SampleList& list,
                   std::string* error = nullptr);

// The same workbook from an export text file (".asc" lines, as a recording
// spools them): its header line is skipped, `list` gives the captions, and
// each line's six fields become the row's cells as writeWorkbook() makes them
// from the list. The file is read twice and the rows are never all held in
// memory (only the finished workbook, in `bytes`). A cut last line is not a
// row. More than `maxRows` rows fail.
bool workbookFromExportText(const std::string& exportPath, const acquisition::SampleList& list,
                            std::string& bytes, uint64_t maxRows, std::string* error = nullptr);

// The width, in the spreadsheet's character units, of a column whose longest
// text is `characters` long.
double columnWidthFor(std::size_t characters);

}  // namespace tarvelo::files
