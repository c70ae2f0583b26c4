#include "cli/output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "acquisition/measurement_memory.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "files/csv_text.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "files/workbook.h"

namespace tarvelo::cli {

namespace {

using common::writeAll;

std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The export text of the rows, with `lineEnd` after every line.
std::string exportTextOf(std::span<const acquisition::SampleRow> rows,
                         const acquisition::SampleList& captions, std::string_view lineEnd) {
    std::string text = files::exportHeaderLine(captions);
    text.reserve(128 + rows.size() * 112);
    uint64_t number = 0;
    for (const auto& row : rows)
        files::appendExportLine(text, ++number, row, '.');
    if (lineEnd != "\r\n") {
        std::string converted;
        converted.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            converted += text[i];
        }
        return converted;
    }
    return text;
}

}  // namespace

std::optional<Target> targetFor(const std::optional<std::string>& out,
                                const std::optional<std::string>& format, bool batch,
                                std::string& error) {
    if (!out || *out == "-")
        return format == "csv" ? Target::StdoutCsv : Target::Stdout;
    const std::string extension = lowerExtension(*out);
    if (extension == ".dat")
        return Target::SampleFile;
    if (extension == ".asc")
        return Target::ExportFile;
    if (extension == ".xlsx")
        return Target::Workbook;
    if (extension == ".csv")
        return Target::Csv;
    if (extension == ".txt" && batch)
        return Target::BatchFile;
    error = "unknown extension of --out " + *out + ": use .dat, .asc, .xlsx or .csv" +
            (batch ? std::string(", or .txt for the batch file") : std::string());
    return std::nullopt;
}

namespace {

// A failed write names the file asked for, never the temporary one beside
// it: "cannot write PATH: the system's reason".
bool named(bool written, const std::string& path, std::string& error) {
    if (written)
        return true;
    const auto colon = error.rfind(": ");
    error = "cannot write " + path + ": " +
            (colon == std::string::npos ? error : error.substr(colon + 2));
    return false;
}

}  // namespace

bool writeRows(Target target, const std::string& path, std::span<const acquisition::SampleRow> rows,
               const acquisition::SampleList& captions, std::string& error) {
    switch (target) {
        case Target::Stdout:
        case Target::StdoutCsv: {
            const std::string text = target == Target::Stdout
                                          ? exportTextOf(rows, captions, "\n")
                                          : files::csvText(rows, captions);
            if (writeAll(STDOUT_FILENO, text))
                return true;
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        case Target::SampleFile: {
            if (rows.size() > kSampleFileLimit) {
                error = "a sample file holds at most 10240 samples, these are " +
                        std::to_string(rows.size()) + "; " + path +
                        " was not written (use .asc, .csv or .xlsx)";
                return false;
            }
            acquisition::MeasurementMemory memory;
            memory.load(std::vector<acquisition::SampleRow>(rows.begin(), rows.end()));
            return named(files::saveSampleFile(path, memory, &error), path, error);
        }
        case Target::ExportFile:
            return named(
                files::saveExportFile(path, exportTextOf(rows, captions, "\r\n"), &error), path,
                error);
        case Target::Csv:
            return named(common::writeFileAtomically(path, files::csvText(rows, captions), &error),
                         path, error);
        case Target::Workbook: {
            acquisition::SampleList list;
            for (int column = 0; column < 6; ++column)
                list.setCaption(column, captions.caption(column));
            for (const auto& row : rows)
                list.addRow(row);
            // Replaced in one step: a failed write leaves an existing file.
            return named(files::writeWorkbook(path, list, &error), path, error);
        }
        case Target::BatchFile:
            error = "a batch file holds batch records only";
            return false;
    }
    return false;
}

// ---- LineOutput -----------------------------------------------------------------

LineOutput::LineOutput() {
    struct stat status {};
    regularFile_ = ::fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
}

bool LineOutput::write(std::string_view bytes, uint64_t lines) {
    if (failed_)
        return false;
    buffer_.append(bytes);
    bufferedLines_ += lines;
    // A text without samples is a header line.
    if (lines == 0)
        bufferedHeaders_ += static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    return buffer_.size() < 64 * 1024 || writeBuffer();
}

bool LineOutput::writeBuffer() {
    if (failed_)
        return false;
    if (buffer_.empty())
        return true;
    // Where the output ends before this write, to cut a partial write back
    // to its last whole line. (Appending, the writes go to the end wherever
    // the offset stands.)
    off_t before = -1;
    if (regularFile_) {
        struct stat status {};
        before = (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0
                     ? (::fstat(STDOUT_FILENO, &status) == 0 ? status.st_size : -1)
                     : ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    }
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        failed_ = true;
        error_ = std::string("cannot write to standard output: ") + std::strerror(errno);
        // The lines that went out whole stay (a pipe keeps even a cut one:
        // it cannot be taken back).
        const auto lastEnd = done == 0 ? std::string::npos : buffer_.rfind('\n', done - 1);
        const std::size_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 1;
        if (before >= 0 && ::ftruncate(STDOUT_FILENO, before + static_cast<off_t>(whole)) == 0)
            ::lseek(STDOUT_FILENO, before + static_cast<off_t>(whole), SEEK_SET);
        const auto lines =
            static_cast<uint64_t>(std::count(buffer_.begin(), buffer_.begin() + whole, '\n'));
        written_ += lines > bufferedHeaders_ ? lines - bufferedHeaders_ : 0;
        return false;
    }
    buffer_.clear();
    written_ += bufferedLines_;
    bufferedLines_ = 0;
    bufferedHeaders_ = 0;
    return true;
}

bool LineOutput::flush(std::string& error) {
    if (writeBuffer())
        return true;
    error = error_;
    return false;
}

// ---- Progress -----------------------------------------------------------------

Progress::Progress() : enabled_(::isatty(STDERR_FILENO) == 1) {}

void Progress::show(const std::string& text, bool force) {
    if (!enabled_)
        return;
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (!force && shown_ && now - lastMs_ < 250)
        return;
    lastMs_ = now;
    shown_ = true;
    // Back to the line's start, the text, the rest of the line cleared.
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
}

void Progress::finish() {
    if (enabled_ && shown_)
        std::fputc('\n', stderr);
    shown_ = false;
}

}  // namespace tarvelo::cli
