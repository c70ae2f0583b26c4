#include "files/workbook.h"

#include <algorithm>
#include <array>
#include <vector>

#include <xlsxwriter.h>

namespace tarvelo::files {

namespace {

constexpr int kColumns = 6;  // A..F

std::size_t characterCount(const std::string& text) {
    // UTF-8: every byte that does not continue a character starts one.
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool failed(std::string* error, const std::string& what, lxw_error code) {
    if (error)
        *error = what + ": " + lxw_strerror(code);
    return false;
}

}  // namespace

double columnWidthFor(std::size_t characters) {
    // A column's width counts characters of the default font's digit width
    // plus a little room at the sides; the spreadsheet's limit is 255.
    return std::min(255.0, static_cast<double>(characters) + 1.0);
}

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

    // Rows go straight to a temporary file instead of piling up in memory
    // (strings are then written inline rather than in a shared table).
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
    if (!workbook) {
        if (error)
            *error = "cannot create the workbook " + path;
        return false;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, kWorksheetName);
    if (!sheet) {
        workbook_close(workbook);
        if (error)
            *error = "cannot add the worksheet";
        return false;
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
            const lxw_error code =
                worksheet_write_string(sheet, static_cast<lxw_row_t>(row),
                                       static_cast<lxw_col_t>(column), text.c_str(), nullptr);
            if (code != LXW_NO_ERROR) {
                workbook_close(workbook);
                return failed(error, "cannot write a cell", code);
            }
        }
    }

    const lxw_error code = workbook_close(workbook);
    if (code != LXW_NO_ERROR)
        return failed(error, "cannot write " + path, code);
    return true;
}

}  // namespace tarvelo::files
