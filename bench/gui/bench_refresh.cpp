// One refresh of the graph window over a full memory (4 x 10240 points),
// including drawing the chart at the window's size into an image, next to
// plain use of the charting toolkit: every point of four line series replaced,
// the axes set to the data's extents, then drawn the same way. Both read the
// memory afresh each time, after 10 new samples (500 ms at 20 per second).
//
// Saving that chart as a PNG or SVG file, each next to drawing the chart into
// an image of the same size in the same run.
//
// Run on the offscreen platform: QT_QPA_PLATFORM=offscreen bench_refresh
#include <algorithm>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "analysis/chartimage.h"
#include "analysis/chartview.h"
#include "analysis/mgrafik.h"
#include "analysis/statistics.h"
#include "app/dialogs.h"
#include "app/process_values.h"

using namespace tarvelo;

namespace {

acquisition::SampleRow sampleAt(long n) {
    acquisition::SampleRow row{};
    for (int k = 0; k < 4; ++k)
        row.channel[k] = std::sin(static_cast<double>(n) * 0.003 * (k + 1)) * (k + 1) + k * 3.0 +
                         0.01 * static_cast<double>(n % 7);
    row.timeMs = 1.7e12 + static_cast<double>(n);
    return row;
}

// A full, wrapped memory; every refresh first appends what 500 ms of sampling
// at 20 samples a second would have added, so the curves and the automatic
// scaling move as they do while sampling runs.
struct Memory {
    explicit Memory(acquisition::MeasurementMemory& m) : memory(m) {
        for (; next < acquisition::kMemoryCapacity + 100; ++next)
            memory.AppendSample(sampleAt(next));
    }
    void advance() {
        for (int i = 0; i < 10; ++i)
            memory.AppendSample(sampleAt(next++));
    }
    acquisition::MeasurementMemory& memory;
    long next = 0;
};

void renderInto(QWidget& view, QImage& image) {
    QPainter painter(&image);
    view.render(&painter);
}

// The graph window with its own program folder, whose settings file points
// at the loopback address (nothing here connects anywhere).
struct GraphWindow {
    GraphWindow() {
        QFile settings(folder.filePath(QStringLiteral("473config.ini")));
        if (!settings.open(QIODevice::WriteOnly))
            std::abort();
        settings.write("[Config]\r\nIP-Server=127.0.0.1\r\nPort=1\r\n");
        settings.close();
        values.programDirectory = folder.path().toStdString();
        captions.setPlainCaptions(values.uiText);
    }
    QTemporaryDir folder;
    app::ProcessValues values;
    acquisition::SampleList captions;
    gui::StandardDialogs dialogs;
};

// The size of the graph window's chart as it is shown.
QSize shownChartSize() {
    GraphWindow w;
    gui::TgraphView graph(w.values, w.captions, w.dialogs);
    graph.show();
    QCoreApplication::processEvents();
    return graph.chartView()->size();
}

void BM_GraphRefreshAndRender(benchmark::State& state) {
    GraphWindow w;
    Memory memory(w.values.memory);
    gui::TgraphView graph(w.values, w.captions, w.dialogs);
    graph.show();
    QCoreApplication::processEvents();
    // Hidden again, so that the only drawing is the one into the image (a
    // shown window would also paint itself on the screen).
    graph.hide();
    QWidget& view = *graph.chartView();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);

    for (auto _ : state) {
        memory.advance();
        graph.RefreshSeries();
        QCoreApplication::sendPostedEvents();
        renderInto(view, image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["width"] = view.width();
    state.counters["height"] = view.height();
}
BENCHMARK(BM_GraphRefreshAndRender)->Unit(benchmark::kMillisecond);

void BM_PlainChartReplaceAndRender(benchmark::State& state) {
    app::ProcessValues values;
    Memory memory(values.memory);

    auto* chart = new QChart();
    chart->setTitle(QStringLiteral("Grafic"));
    chart->setAnimationOptions(QChart::NoAnimation);
    auto* axisX = new QValueAxis();
    auto* axisY = new QValueAxis();
    const QPen grid(QColor(160, 160, 160), 1, Qt::DotLine);
    axisX->setGridLinePen(grid);
    axisY->setGridLinePen(grid);
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    chart->legend()->setAlignment(Qt::AlignRight);
    std::array<QLineSeries*, 4> series{};
    const std::array<QColor, 4> colours = {Qt::red, Qt::green, Qt::yellow, Qt::blue};
    for (std::size_t k = 0; k < 4; ++k) {
        series[k] = new QLineSeries();
        series[k]->setName(QStringLiteral("Channel %1").arg(k + 1));
        series[k]->setPen(QPen(colours[k], 1));
        chart->addSeries(series[k]);
        series[k]->attachAxis(axisX);
        series[k]->attachAxis(axisY);
    }
    QChartView view(chart);
    view.resize(shownChartSize());
    view.show();
    QCoreApplication::processEvents();
    view.hide();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);

    std::vector<acquisition::SampleRow> rows;
    std::array<QList<QPointF>, 4> points;
    for (auto _ : state) {
        memory.advance();
        values.memory.copyChronological(rows);
        double lo = INFINITY;
        double hi = -INFINITY;
        for (std::size_t k = 0; k < 4; ++k) {
            points[k].resize(static_cast<qsizetype>(rows.size()));
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const double y = rows[i].channel[k];
                lo = std::min(lo, y);
                hi = std::max(hi, y);
                points[k][static_cast<qsizetype>(i)] = QPointF(static_cast<double>(i), y);
            }
            series[k]->replace(points[k]);
        }
        axisX->setRange(0, static_cast<double>(rows.size() - 1));
        axisY->setRange(lo, hi);
        QCoreApplication::sendPostedEvents();
        renderInto(view, image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["width"] = view.width();
    state.counters["height"] = view.height();
}
BENCHMARK(BM_PlainChartReplaceAndRender)->Unit(benchmark::kMillisecond);

// The chart of a full memory as the window shows it: drawn into an image of
// its size (the yardstick), and saved as PNG and SVG files through the
// "Image..." path (the picture made, encoded and written atomically).
struct ShownChart {
    ShownChart() : memory(w.values.memory), graph(w.values, w.captions, w.dialogs) {
        graph.show();
        QCoreApplication::processEvents();
    }
    GraphWindow w;
    Memory memory;
    gui::TgraphView graph;
};

void BM_ChartDrawIntoImage(benchmark::State& state) {
    ShownChart shown;
    const QSize size = gui::ChartImage(shown.graph).size();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHints(shown.graph.chartView()->renderHints());
        shown.graph.renderChart(painter, QRectF(QPointF(0, 0), QSizeF(size)));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
}
BENCHMARK(BM_ChartDrawIntoImage)->Unit(benchmark::kMillisecond);

void saveChart(benchmark::State& state, gui::ChartImage::Format format, const char* name) {
    ShownChart shown;
    const QString path = shown.w.folder.filePath(QString::fromLatin1(name));
    const gui::ChartImage picture(shown.graph);
    qint64 bytes = 0;
    for (auto _ : state) {
        if (!picture.save(path, format))
            state.SkipWithError("the picture could not be saved");
        bytes = QFile(path).size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_ChartSavePng(benchmark::State& state) {
    saveChart(state, gui::ChartImage::Format::Png, "chart.png");
}
BENCHMARK(BM_ChartSavePng)->Unit(benchmark::kMillisecond);

void BM_ChartSaveSvg(benchmark::State& state) {
    saveChart(state, gui::ChartImage::Format::Svg, "chart.svg");
}
BENCHMARK(BM_ChartSaveSvg)->Unit(benchmark::kMillisecond);

// The statistics over a full memory, as the statistics window and the
// printout run them.
void BM_ComputeStatisticsFullMemory(benchmark::State& state) {
    app::ProcessValues values;
    Memory memory(values.memory);
    for (auto _ : state) {
        auto result = analysis::ComputeStatistics(values.memory);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ComputeStatisticsFullMemory)->Unit(benchmark::kMicrosecond);

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
