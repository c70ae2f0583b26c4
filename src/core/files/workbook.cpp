#include "files/workbook.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

bool writeWorkbook(const std::string& path, const acquisition::SampleList& list,
                   std::string* error) {
    const int32_t rows = list.size();
    if (static_cast<int64_t>(rows) + 1 > static_cast<int64_t>(LXW_ROW_MAX)) {
        if (error)
            *error = "too many rows for a worksheet";
        errno = 0;
        return false;
    }

    // All texts first: the column widths must be known before the rows go
    // out, and each text is formatted once.
    std::vector<std::string> cells(static_cast<std::size_t>(rows + 1) * kColumns);
    std::array<std::size_t, kColumns> longest{};
    auto put = [&](int32_t row, int column, std::string text) {
        longest[column] = std::max(longest[column], characterCount(text));
        cells[static_cast<std::size_t>(row) * kColumns + column] = std::move(text);
    };
    for (int column = 1; column < kColumns; ++column)
        put(0, column, list.caption(column));
    for (int32_t k = 1; k <= rows; ++k) {
        put(k, 0, std::to_string(k));
        for (int column = 1; column < kColumns; ++column) {
            std::string text = list.cellText(k - 1, column, '.');
            std::replace(text.begin(), text.end(), ',', '.');
            put(k, column, std::move(text));
        }
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

    for (int32_t row = 0; row <= rows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const std::string& text = cells[static_cast<std::size_t>(row) * kColumns + column];
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
    std::string bytes;
    if (!scratch.read(bytes, error))
        return false;
    return common::writeFileAtomically(path, bytes, error);
}

}  // namespace tarvelo::files
