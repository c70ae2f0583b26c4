#include "files/workbook.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <unistd.h>
#include <vector>

#include <xlsxwriter.h>

#include "common/atomic_file.h"

namespace tarvelo::files {

namespace {

constexpr int kColumns = 6;  // A..F
constexpr const char* kValueFormat = "0.00000";

std::size_t characterCount(const std::string& text) {
    // UTF-8: every byte that does not continue a character starts one.
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A failure of the workbook library: it has no system error to report.
bool failed(std::string* error, const std::string& what, lxw_error code) {
    if (error)
        *error = what + ": " + lxw_strerror(code);
    errno = 0;
    return false;
}

// The number a cell's text shows ("1.50000", "-3", "12"), or nothing when the
// text is not a finite decimal number.
std::optional<double> numberIn(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (ec != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A file of its own in the temporary folder, removed again at the end.
class ScratchFile {
public:
    ~ScratchFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    bool create(std::string* error) {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/.workbook.XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            if (error)
                *error = "cannot create " + name + ": " + std::strerror(errno);
            return false;
        }
        ::close(fd);
        path_ = name;
        return true;
    }
    const std::string& path() const { return path_; }
    bool read(std::string& bytes, std::string* error) const {
        std::ifstream in(path_, std::ios::binary);
        if (in)
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in || in.bad()) {
            if (error)
                *error = "cannot read " + path_;
            return false;
        }
        return true;
    }

private:
    std::string path_;
};

}  // namespace

double columnWidthFor(std::size_t characters) {
    // A column's width counts digit widths of the workbook's default font.
    // Where that font is missing, the application draws the texts in a wider
    // one (DejaVu Sans, Liberation Sans: up to a fifth wider for digits and
    // capitals) in columns still measured in the default font's digits:
    // 1.2 digit widths per character and two for the cell margins leave
    // such texts whole. The spreadsheet's limit is 255.
    return std::min(255.0, std::ceil(1.2 * static_cast<double>(characters)) + 2.0);
}

namespace {

// The cell texts of one worksheet row, A..F; an empty text writes no cell.
using RowTexts = std::array<std::string, kColumns>;
// Fills the texts of data row k (1, 2, ...); false on a read failure.
using RowSource = std::function<bool(int32_t k, RowTexts& texts)>;

// Writes the workbook: row 1 `captions`, then `rows` rows from `next`, the
// columns as wide as `longest` characters. The rows are formatted once and
// streamed, so memory does not grow with them.
bool workbookOfRows(std::string& bytes, const RowTexts& captions, int32_t rows,
                    const std::array<std::size_t, kColumns>& longest, const RowSource& next,
                    std::string* error) {
    if (static_cast<int64_t>(rows) + 1 > static_cast<int64_t>(LXW_ROW_MAX)) {
        if (error)
            *error = "too many rows for a worksheet";
        errno = 0;
        return false;
    }

    // The workbook is built in a scratch file and then put in place in one
    // step, so a failed export leaves a file of the chosen name as it was.
    ScratchFile scratch;
    if (!scratch.create(error))
        return false;

    // Rows go straight to a temporary file instead of piling up in memory
    // (strings are then written inline rather than in a shared table).
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(scratch.path().c_str(), &options);
    if (!workbook) {
        return failed(error, "cannot create the workbook", LXW_ERROR_CREATING_XLSX_FILE);
    }
    // The channel values keep their five decimals in view.
    lxw_format* fiveDecimals = workbook_add_format(workbook);
    format_set_num_format(fiveDecimals, kValueFormat);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, kWorksheetName);
    if (!sheet) {
        workbook_close(workbook);
        return failed(error, "cannot add the worksheet", LXW_ERROR_MEMORY_MALLOC_FAILED);
    }

    for (int column = 0; column < kColumns; ++column) {
        // A column without any text keeps the default width.
        if (longest[column] == 0)
            continue;
        const auto col = static_cast<lxw_col_t>(column);
        const lxw_error code =
            worksheet_set_column(sheet, col, col, columnWidthFor(longest[column]), nullptr);
        if (code != LXW_NO_ERROR) {
            workbook_close(workbook);
            return failed(error, "cannot set the column widths", code);
        }
    }

    RowTexts texts;
    for (int32_t row = 0; row <= rows; ++row) {
        if (row == 0) {
            texts = captions;
        } else if (!next(row, texts)) {
            workbook_close(workbook);
            if (error)
                *error = "cannot read the rows";
            return false;
        }
        for (int column = 0; column < kColumns; ++column) {
            const std::string& text = texts[static_cast<std::size_t>(column)];
            if (text.empty())
                continue;
            const auto r = static_cast<lxw_row_t>(row);
            const auto c = static_cast<lxw_col_t>(column);
            // As the spreadsheet takes typed text: the numbers of columns A
            // and C..F become numbers; row 1 and the time stay text.
            const std::optional<double> number =
                row > 0 && column != 1 ? numberIn(text) : std::nullopt;
            const lxw_error code =
                number ? worksheet_write_number(sheet, r, c, *number,
                                                column == 0 ? nullptr : fiveDecimals)
                       : worksheet_write_string(sheet, r, c, text.c_str(), nullptr);
            if (code != LXW_NO_ERROR) {
                workbook_close(workbook);
                return failed(error, "cannot write a cell", code);
            }
        }
    }

    const lxw_error code = workbook_close(workbook);
    if (code != LXW_NO_ERROR)
        return failed(error, "cannot write " + scratch.path(), code);
    return scratch.read(bytes, error);
}

RowTexts captionsOf(const acquisition::SampleList& list, std::array<std::size_t, kColumns>& longest) {
    RowTexts captions;
    for (int column = 1; column < kColumns; ++column) {
        captions[static_cast<std::size_t>(column)] = list.caption(column);
        longest[column] = std::max(longest[column], characterCount(list.caption(column)));
    }
    return captions;
}

// Splits an export text line ("k<TAB>time<TAB>v1..v4<TAB>", its line end
// already cut off) into the six texts; false for anything else (a line cut
// short by a crash).
bool splitExportLine(const std::string& line, RowTexts& texts) {
    std::size_t from = 0;
    for (int column = 0; column < kColumns; ++column) {
        const std::size_t tab = line.find('\t', from);
        if (tab == std::string::npos)
            return false;
        texts[static_cast<std::size_t>(column)].assign(line, from, tab - from);
        from = tab + 1;
    }
    return from == line.size();
}

}  // namespace

bool writeWorkbook(const std::string& path, const acquisition::SampleList& list,
                   std::string* error) {
    const int32_t rows = list.size();
    if (static_cast<int64_t>(rows) + 1 > static_cast<int64_t>(LXW_ROW_MAX)) {
        if (error)
            *error = "too many rows for a worksheet";
        return false;
    }
    // All texts first: the column widths must be known before the rows go
    // out, and each text is formatted once.
    std::array<std::size_t, kColumns> longest{};
    const RowTexts captions = captionsOf(list, longest);
    std::vector<RowTexts> cells(static_cast<std::size_t>(rows));
    for (int32_t k = 1; k <= rows; ++k) {
        RowTexts& texts = cells[static_cast<std::size_t>(k - 1)];
        texts[0] = std::to_string(k);
        for (int column = 1; column < kColumns; ++column) {
            std::string text = list.cellText(k - 1, column, '.');
            std::replace(text.begin(), text.end(), ',', '.');
            texts[static_cast<std::size_t>(column)] = std::move(text);
        }
        for (int column = 0; column < kColumns; ++column)
            longest[column] =
                std::max(longest[column], characterCount(texts[static_cast<std::size_t>(column)]));
    }
    std::string bytes;
    return workbookOfRows(
               bytes, captions, rows, longest,
               [&](int32_t k, RowTexts& texts) {
                   texts = std::move(cells[static_cast<std::size_t>(k - 1)]);
                   return true;
               },
               error) &&
           common::writeFileAtomically(path, bytes, error);
}

bool workbookFromExportText(const std::string& exportPath, const acquisition::SampleList& list,
                            std::string& bytes, uint64_t maxRows, std::string* error) {
    std::array<std::size_t, kColumns> longest{};
    const RowTexts captions = captionsOf(list, longest);
    // First pass: the rows and the widest texts.
    std::ifstream in(exportPath, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read " + exportPath + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    RowTexts texts;
    int64_t rows = 0;
    std::getline(in, line);  // the header line
    while (std::getline(in, line)) {
        if (line.empty() || line.back() != '\r' || (line.pop_back(), !splitExportLine(line, texts)))
            break;  // a cut last line is not a row
        ++rows;
        if (static_cast<uint64_t>(rows) > maxRows || rows + 1 > static_cast<int64_t>(LXW_ROW_MAX)) {
            if (error)
                *error = "too many rows for a worksheet";
            return false;
        }
        for (int column = 0; column < kColumns; ++column)
            longest[column] =
                std::max(longest[column], characterCount(texts[static_cast<std::size_t>(column)]));
    }
    if (in.bad()) {
        if (error)
            *error = "cannot read " + exportPath;
        return false;
    }
    in.clear();
    in.seekg(0);
    std::getline(in, line);
    return workbookOfRows(
        bytes, captions, static_cast<int32_t>(rows), longest,
        [&](int32_t, RowTexts& row) {
            if (!std::getline(in, line) || line.empty())
                return false;
            line.pop_back();
            return splitExportLine(line, row);
        },
        error);
}

}  // namespace tarvelo::files
