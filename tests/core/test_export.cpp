#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "common/numbers.h"
#include "files/export_text.h"
#include "files/workbook.h"
#include "fixtures.h"
#include "support.h"

using namespace tarvelo;
using acquisition::kMemoryCapacity;
using acquisition::MeasurementMemory;
using acquisition::SampleList;
using acquisition::SampleRow;

using tarvelo::test::makeRow;

namespace {

void setUnitCaptions(SampleList& list) {
    list.setCaption(2, "Channel 1 (N)");
    list.setCaption(3, "Channel 2 (mm)");
    list.setCaption(4, "Channel 3 (N.C.)");
    list.setCaption(5, "Channel 4 (\u00B0C)");
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(text.size(), start) << "text does not end with CR LF";
    return lines;
}

const char kHeader[] =
    "\tTime\tChannel 1 (N)\tChannel 2 (mm)\tChannel 3 (N.C.)\tChannel 4 (\u00B0C)";

}  // namespace

TEST(ExportText, HeaderAndThreeRowsWithEitherSeparator) {
    MeasurementMemory memory;
    SampleList list;
    setUnitCaptions(list);
    memory.AppendSample(makeRow(1.5, 2.5, 0, 0, 999));
    memory.AppendSample(makeRow(-0.003, 12.345678, 100, 1e6, 86400123));
    memory.AppendSample(makeRow(0, 0, 0, 0, 1000));

    const std::string comma = files::exportText(memory, list, ',');
    const auto lines = splitLines(comma);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(kHeader, lines[0]);
    EXPECT_EQ("1\t01.01.1970 00.00.00.999\t1,50000\t2,50000\t0,00000\t0,00000\t", lines[1]);
    EXPECT_EQ("2\t02.01.1970 00.00.00.123\t-0,00300\t12,34568\t100,00000\t1000000,00000\t",
              lines[2]);
    EXPECT_EQ("3\t01.01.1970 00.00.01.000\t0,00000\t0,00000\t0,00000\t0,00000\t", lines[3]);

    const auto point = splitLines(files::exportText(memory, list, '.'));
    ASSERT_EQ(4u, point.size());
    EXPECT_EQ("1\t01.01.1970 00.00.00.999\t1.50000\t2.50000\t0.00000\t0.00000\t", point[1]);
}

// The export line builds its texts itself (the recording formats millions):
// they equal the list's time text and "%.5f" values, across second and day
// changes, out-of-range times and extreme values.
TEST(ExportText, LineTextsEqualTheListTexts) {
    const double times[] = {0,           999,        1000,          1999.9, 86400123,
                            1.7e12 + 5,  1.7e12 + 5, 1.7e12 + 1005, -1,     4294967296000.0,
                            std::nan("")};
    const double values[] = {-0.0000049, 1e20, -123456.123455, 0.000005};
    uint64_t number = 0;
    for (double time : times) {
        for (char separator : {',', '.'}) {
            std::string line;
            files::appendExportLine(line, ++number,
                                    makeRow(values[0], values[1], values[2], values[3], time),
                                    separator);
            std::string expected =
                std::to_string(number) + '\t' + acquisition::FormatSampleTime(time) + '\t';
            for (double value : values)
                expected += common::formatValue(value, separator) + '\t';
            EXPECT_EQ(expected + "\r\n", line) << time;
        }
    }
}

TEST(ExportText, EmptyMemoryGivesTheHeaderAlone) {
    MeasurementMemory memory;
    SampleList list;
    EXPECT_EQ("\tTime\tChannel 1\tChannel 2\tChannel 3\tChannel 4\r\n",
              files::exportText(memory, list, ','));
}

TEST(ExportText, WrappedMemoryGives10240LinesFromTheOldest) {
    MeasurementMemory memory;
    SampleList list;
    for (int n = 0; n < kMemoryCapacity + 7; ++n)
        memory.AppendSample(makeRow(n, 0, 0, 0, 1000.0 * n));
    const auto lines = splitLines(files::exportText(memory, list, ','));
    ASSERT_EQ(1u + kMemoryCapacity, lines.size());
    EXPECT_EQ(0u, lines[1].rfind("1\t01.01.1970 00.00.07.000\t7,00000\t", 0)) << lines[1];
    EXPECT_EQ(0u, lines.back().rfind("10240\t", 0));
    EXPECT_NE(std::string::npos, lines.back().find("\t10246,00000\t"));
}

TEST(ExportText, FileIsWindows1252AndReplacedAtomically) {
    test::TempDir dir;
    MeasurementMemory memory;
    SampleList list;
    setUnitCaptions(list);
    const std::string text = files::exportText(memory, list, ',');
    const std::string path = dir.file("out.asc");
    test::writeFile(path, "old");
    ASSERT_TRUE(files::saveExportFile(path, text));
    const std::string bytes = test::readFile(path);
    EXPECT_EQ(std::string("\tTime\tChannel 1 (N)\tChannel 2 (mm)\tChannel 3 (N.C.)\tChannel 4 "
                          "(\xB0"
                          "C)\r\n"),
              bytes);

    std::string error;
    EXPECT_FALSE(files::saveExportFile(dir.file("missing/out.asc"), text, &error));
    EXPECT_FALSE(error.empty());
}

// ---- workbook, read back by an independent reader -------------------------

namespace {

constexpr const char* kReader = R"PY(
import sys
import openpyxl
book = openpyxl.load_workbook(sys.argv[1])
print("sheets\t" + "\t".join(book.sheetnames))
sheet = book["Tabelle1"]
for letter in "ABCDEF":
    print("width\t%s\t%s" % (letter, sheet.column_dimensions[letter].width))
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is not None:
            print("cell\t%s\t%s\t%s\t%s" % (cell.coordinate, cell.data_type, cell.value,
                                            cell.number_format))
# What a SUM over column C gives: the numbers of the column.
print("sumC\t%r" % sum(c.value for c in sheet["C"] if c.data_type == "n"))
)PY";

struct Workbook {
    std::vector<std::string> sheets;
    std::map<std::string, double> widths;
    struct Cell {
        std::string type, value, format;
    };
    std::map<std::string, Cell> cells;
    double sumC = -1;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, '\t');)
        parts.push_back(part);
    return parts;
}

// Debian's own interpreter with its openpyxl, never whichever python3 comes
// first on the PATH.
Workbook readBack(const test::TempDir& dir, const std::string& path) {
    const std::string script = dir.file("reader.py");
    test::writeFile(script, kReader);
    const std::string command = "/usr/bin/python3 '" + script + "' '" + path + "'";
    Workbook book;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return book;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    EXPECT_EQ(0, ::pclose(pipe)) << "reader failed: " << command;

    std::stringstream in(output);
    for (std::string line; std::getline(in, line);) {
        auto parts = splitTabs(line);
        if (parts.empty())
            continue;
        if (parts[0] == "sheets")
            book.sheets.assign(parts.begin() + 1, parts.end());
        else if (parts[0] == "width" && parts.size() == 3)
            book.widths[parts[1]] = std::stod(parts[2]);
        else if (parts[0] == "cell" && parts.size() >= 5)
            book.cells[parts[1]] = {parts[2], parts[3], parts[4]};
        else if (parts[0] == "sumC" && parts.size() == 2)
            book.sumC = std::stod(parts[1]);
    }
    return book;
}

}  // namespace

TEST(ExportWorkbook, CellLayoutNumbersAndTexts) {
    test::TempDir dir;
    SampleList list;
    setUnitCaptions(list);
    list.addRow(makeRow(1.5, 2.5, 0, 0, 999));
    list.addRow(makeRow(-0.003, 12.345678, 100, 1e6, 86400123));

    const std::string path = dir.file("book.xlsx");
    std::string error;
    ASSERT_TRUE(files::writeWorkbook(path, list, &error)) << error;
    const Workbook book = readBack(dir, path);

    EXPECT_EQ(std::vector<std::string>{"Tabelle1"}, book.sheets);
    // Row 1 and the time are text; the numbers are numbers, as the
    // spreadsheet takes them when typed, the values shown with five decimals.
    const std::string text = "s", number = "n", general = "General", five = "0.00000";
    const std::map<std::string, Workbook::Cell> expected{
        {"B1", {text, "Time", general}},
        {"C1", {text, "Channel 1 (N)", general}},
        {"D1", {text, "Channel 2 (mm)", general}},
        {"E1", {text, "Channel 3 (N.C.)", general}},
        {"F1", {text, "Channel 4 (\u00B0C)", general}},
        {"A2", {number, "1", general}},
        {"B2", {text, "01.01.1970 00.00.00.999", general}},
        {"C2", {number, "1.5", five}},
        {"D2", {number, "2.5", five}},
        {"E2", {number, "0", five}},
        {"F2", {number, "0", five}},
        {"A3", {number, "2", general}},
        {"B3", {text, "02.01.1970 00.00.00.123", general}},
        {"C3", {number, "-0.003", five}},
        {"D3", {number, "12.34568", five}},
        {"E3", {number, "100", five}},
        {"F3", {number, "1000000", five}},
    };
    // A1 holds the empty text, which the spreadsheet keeps as an empty cell.
    EXPECT_EQ(expected.size(), book.cells.size());
    for (const auto& [cell, want] : expected) {
        SCOPED_TRACE(cell);
        const auto found = book.cells.find(cell);
        ASSERT_NE(book.cells.end(), found);
        EXPECT_EQ(want.type, found->second.type);
        EXPECT_EQ(want.format, found->second.format);
        if (want.type == number)
            EXPECT_DOUBLE_EQ(std::stod(want.value), std::stod(found->second.value));
        else
            EXPECT_EQ(want.value, found->second.value);
    }
    EXPECT_DOUBLE_EQ(1.497, book.sumC);
    ASSERT_EQ(6u, book.widths.size());
}

TEST(ExportWorkbook, EmptyListGivesRowOneAndFullListEveryRow) {
    test::TempDir dir;
    SampleList empty;
    const std::string emptyPath = dir.file("empty.xlsx");
    ASSERT_TRUE(files::writeWorkbook(emptyPath, empty));
    const Workbook emptyBook = readBack(dir, emptyPath);
    EXPECT_EQ(5u, emptyBook.cells.size());
    EXPECT_EQ("Channel 4", emptyBook.cells.at("F1").value);

    SampleList full;
    for (int n = 0; n < kMemoryCapacity; ++n)
        full.addRow(makeRow(n * 0.5, 0, 0, 0, 1000.0 * n));
    const std::string fullPath = dir.file("full.xlsx");
    ASSERT_TRUE(files::writeWorkbook(fullPath, full));
    const Workbook fullBook = readBack(dir, fullPath);
    EXPECT_EQ(5u + 6u * kMemoryCapacity, fullBook.cells.size());
    EXPECT_EQ("10240", fullBook.cells.at("A10241").value);
    EXPECT_EQ("5119.5", fullBook.cells.at("C10241").value);

    std::string error;
    EXPECT_FALSE(files::writeWorkbook(dir.file("missing/book.xlsx"), full, &error));
    EXPECT_FALSE(error.empty());
}

// ---- workbook column widths, measured with the fonts that stand in ---------

namespace {

// Where the workbook's default font (11 pt, digits 7 px wide at 96 dpi) is
// missing, a spreadsheet application draws the cells in DejaVu Sans or
// Liberation Sans at 11 pt in columns still measured in the default font's
// digits. Measures every shown text in both fonts against its column: the
// column's width in pixels less the 5 px of cell margins. Prints one line per
// text that does not fit, then the number of texts measured.
constexpr const char* kMeasure = R"PY(
import sys
import openpyxl
from fontTools.ttLib import TTFont
fonts = {"DejaVu Sans": "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
         "Liberation Sans": "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"}
pixels_per_em = 11 * 96 / 72
measures = []
for name, path in fonts.items():
    font = TTFont(path)
    cmap, hmtx, units = font.getBestCmap(), font["hmtx"], font["head"].unitsPerEm
    measures.append((name, lambda text, cmap=cmap, hmtx=hmtx, units=units:
                     sum(hmtx[cmap[ord(c)]][0] for c in text) * pixels_per_em / units))
sheet = openpyxl.load_workbook(sys.argv[1])["Tabelle1"]
checked = 0
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is None:
            continue
        if cell.data_type == "n":
            shown = "%.5f" % cell.value if cell.number_format == "0.00000" else "%d" % cell.value
        else:
            shown = str(cell.value)
        room = sheet.column_dimensions[cell.column_letter].width * 7 - 5
        for name, advance in measures:
            checked += 1
            if advance(shown) > room:
                print("tight\t%s\t%s\t%s\t%.1f px in %.1f px" % (cell.coordinate, shown, name,
                                                                advance(shown), room))
print("checked\t%d" % checked)
)PY";

// The lines the measuring script printed for texts that do not fit, and
// the number of texts it measured.
std::pair<std::vector<std::string>, int> measureColumns(const test::TempDir& dir,
                                                        const std::string& path) {
    const std::string script = dir.file("measure.py");
    test::writeFile(script, kMeasure);
    const std::string command = "/usr/bin/python3 '" + script + "' '" + path + "'";
    std::pair<std::vector<std::string>, int> result{{}, 0};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    EXPECT_EQ(0, ::pclose(pipe)) << "measuring failed: " << command;
    std::stringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("tight\t", 0) == 0)
            result.first.push_back(line);
        else if (line.rfind("checked\t", 0) == 0)
            result.second = std::stoi(line.substr(8));
    }
    return result;
}

}  // namespace

TEST(ExportWorkbook, EveryTextFitsItsColumnInTheWideSubstituteFonts) {
    test::TempDir dir;
    // Row 1 alone, the French captions (the time column's longest text is
    // its caption); then a full list of the widest texts: 20-character
    // units, negative values with seven integer digits, the latest times.
    SampleList captionsOnly;
    for (int column = 1; column <= 5; ++column)
        captionsOnly.setCaption(column, column == 1 ? "Temps" : "Canal " + std::to_string(column - 1));
    SampleList wide;
    wide.setCaption(1, "Zeit");
    wide.setCaption(2, "Channel 1 (ABCDEFGHIJKLMNOPQRST)");
    wide.setCaption(3, "Kanal 2 (abcdefghijklmnopqrst)");
    wide.setCaption(4, "Canal 3 (N.C.)");
    wide.setCaption(5, "Channel 4 (\u00B0C)");
    for (int n = 0; n < kMemoryCapacity; ++n)
        wide.addRow(makeRow(-3456788.75 + n, 9999999.99999, -0.00001 * n, 1e6,
                            4102444799999.0 - 86400000.0 * n));

    for (const auto* list : {&captionsOnly, &wide}) {
        const std::string path = dir.file("widths.xlsx");
        ASSERT_TRUE(files::writeWorkbook(path, *list));
        const auto [tight, checked] = measureColumns(dir, path);
        EXPECT_EQ(2 * (5 + 6 * list->size()), checked);
        EXPECT_TRUE(tight.empty()) << tight.size() << " texts do not fit, the first: "
                                   << (tight.empty() ? "" : tight.front());
    }
}
