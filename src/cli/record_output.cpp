#include "cli/record_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <utility>

#include "common/encoding.h"
#include "files/csv_text.h"
#include "files/export_text.h"

namespace tarvelo::cli {

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", std::max(0.0, std::ceil(seconds)));
    return text;
}

}  // namespace

RecordOutput::RecordOutput(Target target, const acquisition::RecordingPlan& plan)
    : target_(target), plan_(plan) {
    // Samples shown on the same terminal make their own progress.
    if (target == Target::Stdout && ::isatty(STDOUT_FILENO) == 1)
        progress_.disable();
}

RecordOutput::~RecordOutput() {
    std::string ignored;
    finish(false, ignored);
}

bool RecordOutput::open(const std::string& path, const acquisition::SampleList& captions,
                        std::string& error) {
    path_ = path;
    for (int column = 0; column < 6; ++column)
        captions_.setCaption(column, captions.caption(column));
    switch (target_) {
        case Target::Stdout: {
            // LF line ends on standard output.
            std::string header = files::exportHeaderLine(captions);
            header.erase(header.size() - 2, 1);
            lines_.write(header);
            return true;
        }
        case Target::ExportFile:
        case Target::Csv: {
            if (!temporary_.create(path, error))
                return false;
            writer_ = std::make_unique<files::RecordWriter>();
            files::RecordWriter::LineFormatter format;
            std::string header;
            if (target_ == Target::Csv) {
                header = files::csvHeaderLine(captions);
                format = [](std::string& out, uint64_t number, const acquisition::SampleRow& row) {
                    files::appendCsvLine(out, number, row);
                };
            } else {
                header = files::exportHeaderBytes(captions);
                format = files::exportLineFormatter('.');
            }
            if (!writer_->open(temporary_.path(), std::move(header), std::move(format), &error)) {
                error = temporary_.path() + ": " + error;
                temporary_.abandon();
                return false;
            }
            return true;
        }
        default:
            return true;
    }
}

bool RecordOutput::samples(const acquisition::SampleRow* rows, std::size_t n) {
    switch (target_) {
        case Target::Stdout:
            text_.clear();
            for (std::size_t i = 0; i < n; ++i) {
                files::appendExportLine(text_, ++number_, rows[i], '.');
                text_.erase(text_.size() - 2, 1);
            }
            if (!lines_.write(text_) || !flushStdoutNowAndThen()) {
                error_ = lines_.error();
                return false;
            }
            return true;
        case Target::ExportFile:
        case Target::Csv:
            // Held back while the writer is far behind: the records then wait
            // in the connection, and none is lost.
            while (writer_->appended() - writer_->written() > kMaxPending && !writer_->failed())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            writer_->append(rows, n);
            if (writer_->failed()) {
                error_ = temporary_.path() + ": " + writer_->error();
                return false;
            }
            return true;
        default:
            if (target_ == Target::SampleFile && kept_.size() + n > kSampleFileLimit) {
                error_ =
                    "a sample file holds at most 10240 samples; the recording was ended "
                    "there and the file not written (use .asc, .csv or .xlsx)";
                return false;
            }
            kept_.insert(kept_.end(), rows, rows + n);
            return true;
    }
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
    if (target_ == Target::Stdout && !flushStdoutNowAndThen())
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
    else if (rate > 0)
        text +=
            ", " + secondsText(static_cast<double>(plan_.samples - now.samples) / rate) + " left";
    progress_.show(text);
}

bool RecordOutput::finish(bool keep, std::string& error) {
    progress_.finish();
    switch (target_) {
        case Target::Stdout:
            if (!keep) {
                lines_.discard();
                return true;
            }
            return lines_.flush(error);
        case Target::ExportFile:
        case Target::Csv: {
            if (!writer_)
                return true;
            std::string reason;
            const bool written = writer_->close(&reason);
            writer_.reset();
            if (!keep) {
                temporary_.abandon();
                return true;
            }
            if (!written) {
                error = temporary_.path() + ": " + reason;
                temporary_.abandon();
                return false;
            }
            return temporary_.commit(error);
        }
        default: {
            if (!keep || path_.empty())
                return true;
            const std::string path = std::exchange(path_, std::string());
            return writeRows(target_, path, kept_, captions_, error);
        }
    }
}

}  // namespace tarvelo::cli
