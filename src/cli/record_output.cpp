#include "cli/record_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

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

RecordOutput::RecordOutput(Target target, LineOutput* lines, const acquisition::RecordingPlan& plan)
    : target_(target), lines_(lines), plan_(plan) {}

bool RecordOutput::samples(const acquisition::SampleRow* rows, std::size_t n) {
    if (!lines_) {
        if (target_ == Target::SampleFile && kept_.size() + n > kSampleFileLimit) {
            error_ =
                "a sample file holds at most 10240 samples; the recording was ended "
                "there and the file not written (use .asc, .csv or .xlsx)";
            return false;
        }
        kept_.insert(kept_.end(), rows, rows + n);
        return true;
    }
    text_.clear();
    for (std::size_t i = 0; i < n; ++i) {
        if (target_ == Target::Csv) {
            files::appendCsvLine(text_, ++number_, rows[i]);
        } else {
            files::appendExportLine(text_, ++number_, rows[i], '.');
            // LF line ends on standard output.
            if (target_ == Target::Stdout)
                text_.erase(text_.size() - 2, 1);
        }
    }
    if (!lines_->write(text_)) {
        error_ = lines_->error();
        return false;
    }
    return true;
}

void RecordOutput::progress(const acquisition::RecordingProgress& now) {
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

}  // namespace tarvelo::cli
