#include "recording/stretch.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "acquisition/sample_list.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "files/csv_text.h"
#include "files/export_text.h"
#include "files/workbook.h"

namespace tarvelo::recording {

namespace {

// Lines are handed to the file in pieces of about this many bytes.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// The recording's captions as the header of a list.
acquisition::SampleList captionList(const Recording& recording) {
    acquisition::SampleList list;
    for (int column = 1; column <= 5; ++column)
        list.setCaption(column, recording.captions()[static_cast<std::size_t>(column - 1)]);
    return list;
}

bool cancelled(const ExportOptions& options) {
    return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
}

// Says how far the writing is; false (errno ECANCELED) when it is to stop.
bool goOn(const ExportOptions& options, uint64_t done, uint64_t total) {
    if (cancelled(options)) {
        errno = ECANCELED;
        return false;
    }
    if (options.progress && total > 0)
        options.progress(static_cast<double>(done) / static_cast<double>(total));
    return true;
}

// Formats the samples [from, to) line by line with `append` after `header`,
// handing the text to the sink in pieces.
template <typename Append>
bool produceLines(const common::ByteSink& sink, const std::string& header, const Recording& recording,
                  uint64_t from, uint64_t to, const ExportOptions& options, Append append) {
    std::string piece;
    piece.reserve(kPieceBytes + 256);
    piece += header;
    uint64_t number = 0;
    for (uint64_t i = from; i < to; ++i) {
        append(piece, ++number, recording.row(i));
        if (piece.size() >= kPieceBytes) {
            if (!goOn(options, i - from, to - from) || !sink(piece))
                return false;
            piece.clear();
        }
    }
    return goOn(options, to - from, to - from) && sink(piece);
}

}  // namespace

MemoryStretch stretchToMemory(const Recording& recording, uint64_t from, uint64_t to,
                              uint64_t limit) {
    MemoryStretch stretch;
    to = std::min(to, recording.size());
    stretch.samples = from < to ? to - from : 0;
    stretch.fits = stretch.samples <= limit;
    if (!stretch.fits) {
        stretch.zoomFactor = static_cast<double>(stretch.samples) / static_cast<double>(limit);
        // A view holds the samples from its start to its end, both included.
        const double span =
            static_cast<double>(recording.timeMs(to - 1) - recording.timeMs(from)) / stretch.zoomFactor;
        const double steady = static_cast<double>(recording.usualStepMs()) *
                              static_cast<double>(limit > 0 ? limit - 1 : 0);
        stretch.fittingSpanMs = recording.usualStepMs() > 0 ? std::min(span, steady) : span;
        return stretch;
    }
    stretch.rows.reserve(stretch.samples);
    for (uint64_t i = from; i < to; ++i)
        stretch.rows.push_back(recording.row(i));
    return stretch;
}

std::optional<StretchFormat> stretchFormatFor(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".asc")
        return StretchFormat::ExportText;
    if (extension == ".csv")
        return StretchFormat::Csv;
    if (extension == ".xlsx")
        return StretchFormat::Workbook;
    return std::nullopt;
}

StretchExport exportStretch(const Recording& recording, uint64_t from, uint64_t to,
                            StretchFormat format, const std::string& path, char decimalSeparator,
                            const ExportOptions& options) {
    StretchExport outcome;
    to = std::min(to, recording.size());
    from = std::min(from, to);
    outcome.rows = to - from;
    const acquisition::SampleList captions = captionList(recording);

    bool written = false;
    switch (format) {
        case StretchFormat::ExportText:
            // The header may hold any character of the recording's captions;
            // the lines are ASCII, the same in either encoding.
            written = common::writeFileAtomicallyFrom(
                path,
                [&](const common::ByteSink& sink) {
                    return produceLines(
                        sink, common::utf8ToCp1252(files::exportHeaderLine(captions)), recording,
                        from, to, options,
                        [decimalSeparator](std::string& out, uint64_t number,
                                           const acquisition::SampleRow& row) {
                            files::appendExportLine(out, number, row, decimalSeparator);
                        });
                },
                &outcome.error);
            break;
        case StretchFormat::Csv:
            written = common::writeFileAtomicallyFrom(
                path,
                [&](const common::ByteSink& sink) {
                    return produceLines(sink, files::csvHeaderLine(captions), recording, from, to,
                                        options, [](std::string& out, uint64_t number,
                                           const acquisition::SampleRow& row) {
                                            files::appendCsvLine(out, number, row);
                                        });
                },
                &outcome.error);
            break;
        case StretchFormat::Workbook: {
            // Checked before anything is made or written.
            if (outcome.rows > files::kWorkbookRowLimit) {
                outcome.result = StretchExport::Result::TooManyRows;
                return outcome;
            }
            // The rows are gathered first (the first half of the way), then
            // the workbook is made and written in one go.
            acquisition::SampleList list = captions;
            for (uint64_t i = from; i < to; ++i) {
                if ((i - from) % 65536 == 0 && !goOn(options, (i - from) / 2, to - from)) {
                    outcome.result = StretchExport::Result::Cancelled;
                    return outcome;
                }
                list.addRow(recording.row(i));
            }
            written = files::writeWorkbook(path, list, &outcome.error);
            break;
        }
    }
    if (!written) {
        outcome.errorNumber = errno;
        outcome.result = cancelled(options) ? StretchExport::Result::Cancelled
                                            : StretchExport::Result::Failed;
    }
    return outcome;
}

}  // namespace tarvelo::recording
