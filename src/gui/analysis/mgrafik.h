#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QColor>
#include <QList>
#include <QPointF>
#include <QWidget>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_row.h"
#include "analysis/chart_support.h"
#include "app/program_text.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPrinter;
class QPushButton;
class QSplitter;
class QTimer;
QT_BEGIN_NAMESPACE
class QChart;
class QCategoryAxis;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace tarvelo::acquisition {
class SampleList;
}
namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

class Dialogs;
class AxisLabels;
class GraphChartView;
class TLineColor;
class Tmesswerte;

// The limits last taken from the axes or typed by the user.
struct AxisLimits {
    double XMin = 0.0;
    double XMax = 100.0;
    double YMin = 0.0;
    double YMax = 100.0;
};

// The graph window: the measurement memory as up to four line curves over the
// sample number, with automatic or typed scaling, zoom and pan, legend,
// auto-refresh, the live value window, the line colours and the printout.
//
// The curves are fed reduced to what the plot area can show (the first,
// lowest, highest and last point of every pixel column of the visible X
// range); axis limits and automatic scaling are worked out from all points,
// and every zoom or pan reduces again for the new view.
class TgraphView : public QWidget {
    Q_OBJECT
public:
    // The printer setup step of the printout; the standard one shows the
    // platform's print dialog. Returns whether the user confirmed it (a
    // cancelled dialog keeps the earlier settings).
    using PrinterSetup = std::function<bool(QPrinter& printer, QWidget* owner)>;

    TgraphView(app::ProcessValues& values, const acquisition::SampleList& captions,
               Dialogs& dialogs, QWidget* parent = nullptr);
    ~TgraphView() override;

    // The windows created after this one.
    void setLineColorDialog(TLineColor* dialog) { lineColor_ = dialog; }
    void setLiveValueWindow(Tmesswerte* window);

    // Shows the window (FormShow runs), or brings it to the front when it is
    // already open.
    void showGraph();

    // Channel 1..4: the colour of its curve, applied at once.
    void setSeriesColour(int channel, const QColor& colour);
    QColor seriesColour(int channel) const;

    void setPrinterSetup(PrinterSetup setup) { printerSetup_ = std::move(setup); }
    QPrinter& printer() { return *printer_; }

    // For the tests and the printout.
    QChart* chart() const { return chart_; }
    GraphChartView* chartView() const { return chartView_; }
    QValueAxis* axisX() const { return axisX_; }
    QCategoryAxis* axisY() const { return axisY_; }
    QLineSeries* series(int channel) const { return series_.at(channel - 1); }
    bool isAttached(int channel) const;
    // The full data behind channel k's curve, oldest first.
    const std::vector<double>& channelValues(int channel) const {
        return channelValues_.at(channel - 1);
    }
    const AxisLimits& limits() const { return limits_; }
    // The preferred distance between Y labels; none is automatic.
    std::optional<double> preferredYStep() const { return yStep_; }
    QStringList yAxisLabels() const;
    QCheckBox* xauto() const { return xauto_; }
    QCheckBox* yauto() const { return yauto_; }
    QCheckBox* showLegend() const { return showLegend_; }
    QCheckBox* gRefresh() const { return gRefresh_; }
    QCheckBox* largeValues() const { return largeValues_; }
    QCheckBox* channelBox(int channel) const { return ch_.at(channel - 1); }
    QLineEdit* minx() const { return minx_; }
    QLineEdit* maxx() const { return maxx_; }
    QLineEdit* miny() const { return miny_; }
    QLineEdit* maxy() const { return maxy_; }
    QPushButton* doScale() const { return doScale_; }
    QPushButton* fPrint() const { return fPrint_; }
    QPushButton* fImage() const { return fImage_; }
    QPushButton* graphConfig() const { return graphConfig_; }
    QTimer* timer1() const { return timer1_; }
    QTimer* timer2() const { return timer2_; }
    QSplitter* splitter() const { return splitter_; }
    QWidget* panel() const { return panel_; }

    // Draws the chart as the window shows it into `target` of the painter's
    // device, laid out at the target's aspect ratio.
    void renderChart(QPainter& painter, const QRectF& target);

    // A sign in the chart's corner while the samples are recorded to a file;
    // the empty text removes it.
    void setRecordingSign(const QString& text);
    QLabel* recordingSign() const { return recordingSign_; }

public slots:
    void FormShow();
    void FormClose();
    void ApplyLanguage();
    void RefreshSeries();
    void Timer1Timer();
    void Timer2Timer() { RefreshSeries(); }
    void Chart1Zoom();
    void xautoClick(bool checked);
    void yautoClick(bool checked);
    void ShowLegendClick(bool checked);
    void GRefreshClick(bool checked);
    void doScaleClick();
    void fPrintClick();
    // "Image...": the chart as shown, saved as PNG, SVG or PDF.
    void fImageClick();
    // Ctrl+C: the chart as shown, on the clipboard.
    void copyChartImage();
    void GraphConfigClick();
    void ChClick(int channel, bool checked);
    void largeValuesClick(bool checked);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    // Places the panel's controls for their texts; widens the window when
    // they need it.
    void fitPanel();
    QString channelCaption(int channel) const;
    QString programText(app::ProgramText id) const;
    // Fills the chart from one snapshot of the memory.
    void fillChart();
    // Sets the automatically scaled axes to the extents of the attached
    // series' full data. May empty the curves: reduceSeries must follow.
    void applyAutoscale();
    // Feeds the series with the reduction of their data to the visible range.
    void reduceSeries();
    void followRegionalFormat();
    void rebuildYLabels();
    void updateXTicks();
    void syncAttachment();
    void writeLimitEdits(bool x, bool y);
    void readAxisLimits(bool x, bool y);
    void setXRange(double min, double max);
    void setYRange(double min, double max);

    app::ProcessValues& values_;
    const acquisition::SampleList& captions_;
    Dialogs& dialogs_;
    TLineColor* lineColor_ = nullptr;
    Tmesswerte* live_ = nullptr;

    QChart* chart_ = nullptr;
    GraphChartView* chartView_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QCategoryAxis* axisY_ = nullptr;
    std::array<QLineSeries*, 4> series_{};
    std::array<QColor, 4> colours_;

    QSplitter* splitter_ = nullptr;
    QLabel* recordingSign_ = nullptr;
    QWidget* panel_ = nullptr;
    QCheckBox* xauto_ = nullptr;
    QCheckBox* yauto_ = nullptr;
    QCheckBox* showLegend_ = nullptr;
    QCheckBox* gRefresh_ = nullptr;
    QCheckBox* largeValues_ = nullptr;
    std::array<QCheckBox*, 4> ch_{};
    QLineEdit* minx_ = nullptr;
    QLineEdit* maxx_ = nullptr;
    QLineEdit* miny_ = nullptr;
    QLineEdit* maxy_ = nullptr;
    QPushButton* doScale_ = nullptr;
    QPushButton* fPrint_ = nullptr;
    QPushButton* fImage_ = nullptr;
    QPushButton* graphConfig_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;

    AxisLimits limits_;
    bool xAutoScale_ = false;
    bool yAutoScale_ = false;
    std::optional<double> yStep_;
    bool centred_ = false;
    // The width ApplyLanguage last gave the window.
    int fittedWidth_ = 0;

    // The last snapshot and its per-channel split, reused from fill to fill.
    std::vector<acquisition::SampleRow> rows_;
    acquisition::MemoryState state_;
    std::array<std::vector<double>, 4> channelValues_;
    std::vector<analysis::Point> reduced_;
    QList<QPointF> points_;
    int reducedColumns_ = -1;

    std::unique_ptr<AxisLabels> labels_;
    std::unique_ptr<QPrinter> printer_;
    PrinterSetup printerSetup_;
    // The PDF file the user last confirmed in the printer setup, if any.
    QString confirmedPdf_;
};

}  // namespace tarvelo::gui
