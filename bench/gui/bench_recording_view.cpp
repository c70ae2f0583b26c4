// Redrawing the recording window's curves at the window's size after a zoom
// or a pan, at every level from the whole run to single samples, for a
// recording of TARVELO_BENCH_RECORDING_SAMPLES samples (default 10 million)
// held in memory; next to it, filling the same image alone.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "acquisition/sample_list.h"
#include "analysis/recordingview.h"
#include "files/csv_text.h"
#include "recording/recording_reader.h"

using namespace tarvelo;

namespace {

std::unique_ptr<recording::Recording> makeRecording() {
    const char* text = std::getenv("TARVELO_BENCH_RECORDING_SAMPLES");
    const uint64_t n = text ? std::strtoull(text, nullptr, 10) : 10'000'000;
    acquisition::SampleList captions;
    std::string bytes = files::csvHeaderLine(captions);
    bytes.reserve(n * 72);
    std::mt19937 random(1);
    acquisition::SampleRow row{};
    for (uint64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 1000.0;
        row.timeMs = 1765000000000.0 + static_cast<double>(i);
        row.channel[0] = 12.5 * std::sin(t / 7.0) + (random() % 1000) * 1e-4;
        row.channel[1] = 250.0 + 40.0 * std::sin(t / 60.0);
        row.channel[2] = (random() % 2000001) * 1e-5 - 10.0;
        row.channel[3] = 21.0 + t / 3600.0;
        files::appendCsvLine(bytes, i + 1, row);
    }
    return recording::readRecordingBytes(bytes).recording;
}

recording::Recording& theRecording() {
    static std::unique_ptr<recording::Recording> r = makeRecording();
    return *r;
}

// The view's size in the recording window at its opening size.
constexpr int kWidth = 960, kHeight = 420;

// range(0): the view shows 1 / range(0) of the run, at a random place.
void BM_RecordingRedraw(benchmark::State& state) {
    auto& r = theRecording();
    gui::RecordingView view;
    view.resize(kWidth, kHeight);
    view.setRecording(&r);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    const double first = static_cast<double>(r.timeMs(0));
    const double span = static_cast<double>(r.timeMs(r.size() - 1)) - first;
    const double shown = span / static_cast<double>(state.range(0));
    std::mt19937_64 random(2);
    for (auto _ : state) {
        const double start = first + (span - shown) * static_cast<double>(random() % 10000) / 1e4;
        view.showView({start, start + shown, false, 0, 1});
        QPainter painter(&image);
        view.render(&painter);
    }
    state.counters["points"] = view.drewPoints() ? 1 : 0;
}
BENCHMARK(BM_RecordingRedraw)
    ->Arg(1)->Arg(100)->Arg(10000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_PlainImageFill(benchmark::State& state) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::white);
    }
}
BENCHMARK(BM_PlainImageFill)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
