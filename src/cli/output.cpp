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

using common::folderOf;
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

std::optional<Target> targetFor(const std::optional<std::string>& out, bool batch,
                                std::string& error) {
    if (!out)
        return Target::Stdout;
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

bool writeRows(Target target, const std::string& path, std::span<const acquisition::SampleRow> rows,
               const acquisition::SampleList& captions, std::string& error) {
    switch (target) {
        case Target::Stdout: {
            if (writeAll(STDOUT_FILENO, exportTextOf(rows, captions, "\n")))
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
            return files::saveSampleFile(path, memory, &error);
        }
        case Target::ExportFile:
            return files::saveExportFile(path, exportTextOf(rows, captions, "\r\n"), &error);
        case Target::Csv:
            return common::writeFileAtomically(path, files::csvText(rows, captions), &error);
        case Target::Workbook: {
            acquisition::SampleList list;
            for (int column = 0; column < 6; ++column)
                list.setCaption(column, captions.caption(column));
            for (const auto& row : rows)
                list.addRow(row);
            // Written under a temporary name and renamed, so a failed write
            // leaves an existing file as it was.
            TemporaryFile temporary;
            if (!temporary.create(path, error))
                return false;
            if (!files::writeWorkbook(temporary.path(), list, &error))
                return false;
            return temporary.commit(error);
        }
        case Target::BatchFile:
            error = "a batch file holds batch records only";
            return false;
    }
    return false;
}

// ---- LineOutput -----------------------------------------------------------------

bool LineOutput::write(std::string_view bytes) {
    if (failed_)
        return false;
    buffer_.append(bytes);
    return buffer_.size() < 64 * 1024 || writeBuffer();
}

bool LineOutput::writeBuffer() {
    if (failed_)
        return false;
    if (!writeAll(STDOUT_FILENO, buffer_)) {
        failed_ = true;
        error_ = std::string("cannot write to standard output: ") + std::strerror(errno);
        return false;
    }
    buffer_.clear();
    return true;
}

bool LineOutput::flush(std::string& error) {
    if (writeBuffer())
        return true;
    error = error_;
    return false;
}

// ---- TemporaryFile ----------------------------------------------------------------

bool TemporaryFile::create(const std::string& target, std::string& error) {
    abandon();
    target_ = target;
    const auto slash = target.find_last_of('/');
    temporary_ = folderOf(target) + "/." +
                 (slash == std::string::npos ? target : target.substr(slash + 1)) + ".XXXXXX";
    const int fd = ::mkstemp(temporary_.data());
    if (fd < 0) {
        error = "cannot create a file in " + folderOf(target) + ": " + std::strerror(errno);
        temporary_.clear();
        return false;
    }
    ::close(fd);
    return true;
}

bool TemporaryFile::commit(std::string& error) {
    auto failed = [&](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        abandon();
        return false;
    };
    const int fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failed("cannot open " + temporary_);
    const bool flushed = ::fsync(fd) == 0;
    ::close(fd);
    if (!flushed)
        return failed("cannot write " + temporary_ + " to the disk");
    struct stat existing {};
    mode_t mode;
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        mode = existing.st_mode & 07777;
    } else {
        // Read without changing it for longer than this instant; the other
        // threads of the program create no files meanwhile.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::chmod(temporary_.c_str(), mode) != 0)
        return failed("cannot set the permissions of " + temporary_);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return failed("cannot replace " + target_);
    temporary_.clear();
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void TemporaryFile::abandon() {
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
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
