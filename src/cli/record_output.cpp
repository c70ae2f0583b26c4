#include "cli/record_output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "common/atomic_file.h"
#include "common/encoding.h"
#include "files/csv_text.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "files/workbook.h"

namespace tarvelo::cli {

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", std::max(0.0, std::ceil(seconds)));
    return text;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The sample file's header with its row count.
std::string sampleFileHeader(uint64_t rows) {
    std::string header(files::kSampleFileMagic);
    const auto count = static_cast<int32_t>(std::min<uint64_t>(rows, kSampleFileLimit));
    header.append(reinterpret_cast<const char*>(&count), sizeof count);
    return header;
}

// Gives the finished `from` the name `to`, with the permissions of a file
// `to` already there, and makes the new name last.
bool rename(const std::string& from, const std::string& to, std::string& error) {
    struct stat existing {};
    if (::stat(to.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::chmod(from.c_str(), existing.st_mode & 07777);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = systemError("cannot rename " + from + " to " + to);
        return false;
    }
    const int folder = ::open(common::folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// Writes `bytes` into `path` as it is (through a link, into a pipe).
bool writeInPlace(const std::string& path, const std::string& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = systemError("cannot open " + path);
        return false;
    }
    bool ok = common::writeAll(fd, bytes);
    if (!ok)
        error = systemError("cannot write " + path);
    if (::close(fd) != 0 && ok) {
        error = systemError("cannot write " + path);
        ok = false;
    }
    return ok;
}

bool readFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

}  // namespace

bool writtenInPlace(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    return S_ISLNK(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) ||
           S_ISSOCK(status.st_mode);
}

RecordOutput::RecordOutput(Target target, const acquisition::RecordingPlan& plan, int64_t splitMs)
    : target_(target), plan_(plan), splitMs_(splitMs) {
    // Samples shown on the same terminal make their own progress.
    if (isStdout(target) && ::isatty(STDOUT_FILENO) == 1)
        progress_.disable();
}

RecordOutput::~RecordOutput() {
    std::string ignored;
    finish(RunEnd::Partial, ignored);
}

std::string RecordOutput::splitName(const std::string& path, uint64_t index) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "-%04llu", static_cast<unsigned long long>(index));
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + counter;
    return path.substr(0, dot) + counter + path.substr(dot);
}

bool RecordOutput::open(const std::string& path, const acquisition::SampleList& captions,
                        std::string& error) {
    base_ = path;
    for (int column = 0; column < 6; ++column)
        captions_.setCaption(column, captions.caption(column));
    if (isStdout(target_)) {
        std::string header;
        if (target_ == Target::StdoutCsv) {
            header = files::csvHeaderLine(captions);
        } else {
            // LF line ends on standard output.
            header = files::exportHeaderLine(captions);
            header.erase(header.size() - 2, 1);
        }
        lines_.write(header);
        return true;
    }
    return openFile(splitMs_ > 0 ? splitName(path, fileIndex_) : path, error);
}

bool RecordOutput::openFile(const std::string& path, std::string& error) {
    path_ = path;
    finished_ = false;
    // Text files in place when the name is a link, a pipe or a device; the
    // others, and every sample file and workbook, grow as FILE.part.
    inPlace_ = writtenInPlace(path);
    const bool lines = target_ == Target::Csv || target_ == Target::ExportFile;
    work_ = inPlace_ && lines ? path : path + ".part";
    if (work_ != path) {
        // O_EXCL: an earlier run's samples are never written over.
        const int fd = ::open(work_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = errno == EEXIST ? work_ +
                                          " is already there: an earlier run that ended early "
                                          "left its samples in it; move it away or delete it"
                                    : systemError("cannot create " + work_);
            return false;
        }
        ::close(fd);
    }

    writer_ = std::make_unique<files::RecordWriter>();
    files::RecordWriter::LineFormatter format;
    std::string header;
    switch (target_) {
        case Target::Csv:
            header = files::csvHeaderLine(captions_);
            format = [](std::string& out, uint64_t number, const acquisition::SampleRow& row) {
                files::appendCsvLine(out, number, row);
            };
            break;
        case Target::SampleFile:
            header = sampleFileHeader(0);
            format = [](std::string& out, uint64_t, const acquisition::SampleRow& row) {
                out.append(reinterpret_cast<const char*>(&row), sizeof row);
            };
            writer_->setCountingHeader(sampleFileHeader);
            break;
        default:  // the export text, also as the workbook's spool
            header = files::exportHeaderBytes(captions_);
            format = files::exportLineFormatter('.');
            break;
    }
    std::string reason;
    if (!writer_->open(work_, std::move(header), std::move(format), &reason)) {
        error = work_ + ": " + reason;
        writer_.reset();
        if (work_ != path_)
            ::unlink(work_.c_str());
        finished_ = true;
        return false;
    }
    return true;
}

bool RecordOutput::samples(const acquisition::SampleRow* rows, std::size_t n) {
    if (n == 0)
        return true;
    if (isStdout(target_)) {
        text_.clear();
        for (std::size_t i = 0; i < n; ++i) {
            if (target_ == Target::StdoutCsv) {
                files::appendCsvLine(text_, ++number_, rows[i]);
            } else {
                files::appendExportLine(text_, ++number_, rows[i], '.');
                text_.erase(text_.size() - 2, 1);
            }
        }
        if (!lines_.write(text_, n) || !flushStdoutNowAndThen()) {
            error_ = lines_.error();
            return false;
        }
        return true;
    }
    if (splitMs_ <= 0)
        return append(rows, n);
    // A split run: the samples before the current file's end go to it, the
    // sample at its end begins the next file.
    if (!started_) {
        started_ = true;
        fileEndMs_ = rows[0].timeMs + static_cast<double>(splitMs_);
    }
    std::size_t from = 0;
    while (from < n) {
        std::size_t to = from;
        while (to < n && rows[to].timeMs < fileEndMs_)
            ++to;
        if (to > from && !append(rows + from, to - from))
            return false;
        if (to == n)
            break;
        // Files that no sample falls into (the device clock jumped) are
        // skipped over, not made empty.
        const double step = static_cast<double>(splitMs_);
        fileEndMs_ += step * std::max(1.0, std::floor((rows[to].timeMs - fileEndMs_) / step) + 1);
        if (!nextFile())
            return false;
        from = to;
    }
    return true;
}

bool RecordOutput::nextFile() {
    std::string error;
    if (!finish(RunEnd::Complete, error)) {
        error_ = error;
        return false;
    }
    ++fileIndex_;
    if (!openFile(splitName(base_, fileIndex_), error)) {
        error_ = error;
        // Nothing more to finish: the files before are complete.
        keptName_.clear();
        kept_ = 0;
        return false;
    }
    return true;
}

bool RecordOutput::append(const acquisition::SampleRow* rows, std::size_t n) {
    // Held back while the writer is far behind: the records then wait in the
    // connection, and none is lost.
    while (writer_->appended() - writer_->written() > kMaxPending && !writer_->failed())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writer_->append(rows, n);
    if (writer_->failed()) {
        error_ = work_ + ": " + writer_->error();
        return false;
    }
    return true;
}

bool RecordOutput::flushStdoutNowAndThen() {
    // A script reading the samples from a pipe sees them within a quarter of
    // a second, however slowly they come.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastFlush_ < std::chrono::milliseconds(250))
        return true;
    lastFlush_ = now;
    std::string ignored;
    return lines_.flush(ignored);
}

void RecordOutput::progress(const acquisition::RecordingProgress& now) {
    if (isStdout(target_) && !flushStdoutNowAndThen())
        return;  // the next samples() reports the failure
    if (!progress_.enabled())
        return;
    const double elapsed = std::chrono::duration<double>(now.elapsed).count();
    const double rate = elapsed > 0 ? static_cast<double>(now.samples) / elapsed : 0;
    char figure[64];
    std::snprintf(figure, sizeof figure, ", %.1f samples/s", rate);
    std::string text = std::to_string(now.samples) + " samples" + figure;
    if (plan_.duration.count() > 0)
        text += ", " +
                secondsText(std::chrono::duration<double>(plan_.duration).count() - elapsed) +
                " left";
    else if (rate > 0 && plan_.samples > 0)
        text +=
            ", " + secondsText(static_cast<double>(plan_.samples - now.samples) / rate) + " left";
    progress_.show(text);
}

void RecordOutput::interrupted(const acquisition::RecordingGap& gap) {
    progress_.finish();
    // The device times as the export shows them, in ISO form.
    auto timeText = [](double ms) {
        std::string line;
        acquisition::SampleRow row{};
        row.timeMs = ms;
        files::appendCsvLine(line, 0, row);
        return line.substr(2, 23);
    };
    std::string text = "tarvelo-cli: the stream was interrupted (" + gap.reason + ") ";
    text += gap.beforeMs ? "between " + timeText(*gap.beforeMs) + " and " + timeText(gap.afterMs)
                         : "before " + timeText(gap.afterMs);
    text += " device time; about " + std::to_string(gap.missingRecords) +
            " records missing; going on after " + std::to_string(gap.attempts) +
            (gap.attempts == 1 ? " try" : " tries") + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

bool RecordOutput::finish(RunEnd end, std::string& error) {
    if (finished_)
        return true;
    finished_ = true;
    progress_.finish();
    if (isStdout(target_)) {
        const bool flushed = lines_.flush(error);
        kept_ = lines_.written();
        keptName_ = "standard output";
        return flushed;
    }
    if (!writer_)
        return true;
    std::string reason;
    const bool written = writer_->close(&reason);
    kept_ = writer_->written();
    writer_.reset();
    if (!written) {
        // Every whole line written before the failure stays.
        error = work_ + ": " + reason;
        end = RunEnd::Partial;
    }
    if (end == RunEnd::Nothing || (end == RunEnd::Partial && kept_ == 0)) {
        // Nothing recorded: no file is left, and one of the name asked for
        // is as it was.
        if (work_ != path_)
            ::unlink(work_.c_str());
        return written;
    }
    keptName_ = work_;
    if (end == RunEnd::Partial)
        return written;
    return completeFile(error);
}

bool RecordOutput::completeFile(std::string& error) {
    if (work_ == path_) {
        keptName_ = path_;
        return true;
    }
    std::string bytes;
    switch (target_) {
        case Target::Workbook: {
            std::string reason;
            if (!files::workbookFromExportText(work_, captions_, bytes, kWorkbookLimit, &reason)) {
                error = "cannot make the workbook " + path_ + ": " + reason;
                return false;
            }
            break;
        }
        default:
            if (!inPlace_) {
                if (!rename(work_, path_, error))
                    return false;
                keptName_ = path_;
                return true;
            }
            if (!readFile(work_, bytes, error))
                return false;
            break;
    }
    const bool done = inPlace_ ? writeInPlace(path_, bytes, error)
                               : common::writeFileAtomically(path_, bytes, &error);
    if (!done) {
        error = path_ + ": " + error;
        return false;
    }
    ::unlink(work_.c_str());
    keptName_ = path_;
    return true;
}

}  // namespace tarvelo::cli
