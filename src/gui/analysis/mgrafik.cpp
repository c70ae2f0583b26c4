#include "analysis/mgrafik.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "acquisition/mmesswerte.h"
#include "acquisition/sample_list.h"
#include "acquisition/samplelistmodel.h"
#include "analysis/chartimage.h"
#include "analysis/axis_labels.h"
#include "analysis/chartview.h"
#include "analysis/mlinecolor.h"
#include "analysis/mprint.h"
#include "analysis/standard_colours.h"
#include "app/dialogs.h"
#include "app/fit_controls.h"
#include "app/shown_text.h"
#include "app/placement.h"
#include "app/process_values.h"
#include "app/program_text.h"
#include "app/settings.h"
#include "common/numbers.h"
#include "device/replies.h"

namespace tarvelo::gui {

namespace {

constexpr int kClientWidth = 856;
constexpr int kClientHeight = 690;
// The panel's rows of controls, and one more row below "Print" for "Image...".
constexpr int kPanelHeight = 106 + 26;
constexpr int kPanelMargin = 4;  // right of the rightmost control
constexpr int kRefreshMs = 500;
constexpr int kLimitsDelayMs = 100;
constexpr int kDotSize = 9;

QColor toQColor(const analysis::StandardColour& c) {
    return QColor(c.red, c.green, c.blue);
}

QColor colourForIndex(int channel, int index) {
    if (auto c = analysis::standardColour(index))
        return toQColor(*c);
    // A hand-edited value outside the list: the channel's default colour.
    return toQColor(*analysis::standardColour(analysis::kDefaultColourIndex[channel - 1]));
}

// The marker of a curve that has a single point: a filled dot.
QImage dotImage(const QColor& colour) {
    QImage image(kDotSize, kDotSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(0, 0, kDotSize, kDotSize));
    return image;
}

// An axis range for automatic scaling: the data's extents, widened by one
// either way when they collapse to a single value.
std::pair<double, double> autoRange(double lo, double hi) {
    if (hi > lo)
        return {lo, hi};
    return {lo - 1.0, hi + 1.0};
}

QString limitText(double value) {
    return QString::fromStdString(
        analysis::formatLimit(value, SampleListModel::decimalSeparator()));
}

double parseEdit(const QLineEdit* edit) {
    return device::ParseDeviceNumber(edit->text().toStdString());
}

}  // namespace

TgraphView::TgraphView(app::ProcessValues& values, const acquisition::SampleList& captions,
                       Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window),
      values_(values),
      captions_(captions),
      dialogs_(dialogs),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setObjectName(QStringLiteral("graphView"));
    setWindowTitle(QStringLiteral("Graphic View"));
    resize(kClientWidth, kClientHeight);

    printerSetup_ = [](QPrinter& printer, QWidget* owner) {
        QPrintDialog dialog(&printer, owner);
        return dialog.exec() == QDialog::Accepted;
    };

    chart_ = new QChart();
    chart_->setAnimationOptions(QChart::NoAnimation);
    axisX_ = new QValueAxis(chart_);
    // Localised label formats need an explicit precision.
    axisX_->setLabelFormat(QStringLiteral("%.6g"));
    chart_->setLocalizeNumbers(true);
    followRegionalFormat();
    // Labels at round sample numbers (multiples of 1, 2 or 5 times a power
    // of ten), not at fractions of the range.
    axisX_->setTickType(QValueAxis::TicksDynamic);
    axisX_->setTickAnchor(0.0);
    axisY_ = new QCategoryAxis(chart_);
    axisY_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const QPen grid(QColor(160, 160, 160), 1, Qt::DotLine);
    axisX_->setGridLinePen(grid);
    axisY_->setGridLinePen(grid);
    axisX_->setRange(0, 100);
    axisY_->setRange(0, 100);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    chart_->legend()->setAlignment(Qt::AlignRight);

    for (int k = 1; k <= 4; ++k) {
        auto* s = new QLineSeries(this);
        s->setObjectName(QStringLiteral("ChannelSeries%1").arg(k));
        colours_[k - 1] = colourForIndex(k, analysis::kDefaultColourIndex[k - 1]);
        s->setPen(QPen(colours_[k - 1], 1));
        s->setMarkerSize(kDotSize);
        series_[k - 1] = s;
    }

    labels_ = std::make_unique<AxisLabels>(*chart_, *axisX_, *axisY_);
    createControls();

    connect(axisY_, &QValueAxis::rangeChanged, this, &TgraphView::rebuildYLabels);
    connect(axisX_, &QValueAxis::rangeChanged, this, &TgraphView::updateXTicks);
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
        labels_->withinLayout([this, &area] {
            if (static_cast<int>(std::ceil(area.width())) != reducedColumns_)
                reduceSeries();
            updateXTicks();
            rebuildYLabels();
        });
    });
    connect(chartView_, &GraphChartView::viewChanged, this, &TgraphView::Chart1Zoom);
    connect(chartView_, &GraphChartView::panning, this, [this] { reduceSeries(); });
}

TgraphView::~TgraphView() {
    // Series outside the chart are ours; those inside go with the chart.
    for (auto* s : series_) {
        if (s->chart() == nullptr)
            delete s;
    }
}

void TgraphView::createControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter_ = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter_);

    chartView_ = new GraphChartView(chart_, splitter_);
    chartView_->setObjectName(QStringLiteral("Chart1"));

    panel_ = new QWidget(splitter_);
    panel_->setObjectName(QStringLiteral("Panel1"));
    panel_->setMinimumHeight(0);
    splitter_->addWidget(chartView_);
    splitter_->addWidget(panel_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    splitter_->setChildrenCollapsible(false);
    const int chartHeight = kClientHeight - kPanelHeight - splitter_->handleWidth();
    splitter_->setSizes({chartHeight, kPanelHeight});

    auto box = [this](const char* name, int x, int y, int w) {
        auto* b = new QCheckBox(panel_);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, 17);
        return b;
    };
    auto edit = [this](const char* name, int x, int y) {
        auto* label = new QLabel(QString::fromLatin1(name), panel_);
        label->setGeometry(x, y - 16, 73, 14);
        auto* e = new QLineEdit(panel_);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(x, y, 73, 21);
        return e;
    };
    auto button = [this](const char* name, int x, int y) {
        auto* b = new QPushButton(panel_);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, 100, 25);
        return b;
    };

    xauto_ = box("xauto", 40, 16, 150);
    minx_ = edit("minx", 40, 60);
    maxx_ = edit("maxx", 120, 60);
    yauto_ = box("yauto", 200, 16, 150);
    miny_ = edit("miny", 200, 60);
    maxy_ = edit("maxy", 280, 60);
    showLegend_ = box("ShowLegend", 376, 16, 190);
    gRefresh_ = box("GRefresh", 376, 40, 190);
    doScale_ = button("doScale", 376, 64);
    fPrint_ = button("fPrint", 488, 63);
    fImage_ = button("fImage", 488, 92);
    graphConfig_ = button("GraphConfig", 600, 63);
    ch_[0] = box("Ch1", 576, 16, 124);
    ch_[1] = box("Ch2", 576, 40, 124);
    ch_[2] = box("Ch3", 704, 16, 148);
    ch_[3] = box("Ch4", 704, 40, 148);
    largeValues_ = box("largeValues", 704, 63, 148);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setSingleShot(true);
    timer1_->setInterval(kLimitsDelayMs);
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(kRefreshMs);

    // toggled, not clicked: a change made by the program runs the action too.
    connect(xauto_, &QCheckBox::toggled, this, &TgraphView::xautoClick);
    connect(yauto_, &QCheckBox::toggled, this, &TgraphView::yautoClick);
    connect(showLegend_, &QCheckBox::toggled, this, &TgraphView::ShowLegendClick);
    connect(gRefresh_, &QCheckBox::toggled, this, &TgraphView::GRefreshClick);
    connect(largeValues_, &QCheckBox::toggled, this, &TgraphView::largeValuesClick);
    for (int k = 1; k <= 4; ++k) {
        connect(ch_[k - 1], &QCheckBox::toggled, this,
                [this, k](bool checked) { ChClick(k, checked); });
    }
    for (QLineEdit* e : {minx_, maxx_, miny_, maxy_})
        connect(e, &QLineEdit::textEdited, this, &TgraphView::fitPanel);
    connect(doScale_, &QPushButton::clicked, this, &TgraphView::doScaleClick);
    connect(fPrint_, &QPushButton::clicked, this, &TgraphView::fPrintClick);
    connect(fImage_, &QPushButton::clicked, this, &TgraphView::fImageClick);
    auto* copy = new QShortcut(QKeySequence::Copy, this);
    connect(copy, &QShortcut::activated, this, &TgraphView::copyChartImage);
    connect(graphConfig_, &QPushButton::clicked, this, &TgraphView::GraphConfigClick);
    connect(timer1_, &QTimer::timeout, this, &TgraphView::Timer1Timer);
    connect(timer2_, &QTimer::timeout, this, &TgraphView::Timer2Timer);
}

void TgraphView::setLiveValueWindow(Tmesswerte* window) {
    live_ = window;
    if (live_)
        live_->setClosedHandler([this] { largeValues_->setChecked(false); });
}

void TgraphView::showGraph() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    show();
}

void TgraphView::setSeriesColour(int channel, const QColor& colour) {
    colours_.at(channel - 1) = colour;
    QLineSeries* s = series_.at(channel - 1);
    QPen pen = s->pen();
    pen.setColor(colour);
    pen.setWidth(1);
    s->setPen(pen);
    if (!s->lightMarker().isNull())
        s->setLightMarker(dotImage(colour));
}

QColor TgraphView::seriesColour(int channel) const {
    return series_.at(channel - 1)->pen().color();
}

bool TgraphView::isAttached(int channel) const {
    return series_.at(channel - 1)->chart() != nullptr;
}

QStringList TgraphView::yAxisLabels() const {
    return axisY_->categoriesLabels();
}

QString TgraphView::channelCaption(int channel) const {
    return QString::fromStdString(captions_.channelCaption(channel));
}

void TgraphView::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        centreOnScreen(*this);
    }
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TgraphView::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

void TgraphView::followRegionalFormat() {
    // Sample numbers with the regional decimal separator, without grouping.
    QLocale xLocale;
    xLocale.setNumberOptions(QLocale::OmitGroupSeparator);
    chart_->setLocale(xLocale);
}

void TgraphView::FormShow() {
    followRegionalFormat();
    timer2_->stop();
    gRefresh_->setChecked(false);

    limits_ = AxisLimits{};
    writeLimitEdits(true, true);

    app::SettingsFile settings(values_.settingsFilePath());
    // Showing the stored choice writes nothing back (the curves follow below).
    for (int k = 1; k <= 4; ++k) {
        const QSignalBlocker quiet(ch_[k - 1]);
        ch_[k - 1]->setChecked(settings.readBool("Channel " + std::to_string(k), true));
    }

    for (int k = 1; k <= 4; ++k) {
        const int index =
            settings.readInt("Color " + std::to_string(k), analysis::kDefaultColourIndex[k - 1]);
        if (lineColor_)
            lineColor_->selectIndex(k, index);
        std::optional<QColor> chosen = lineColor_ ? lineColor_->selectedColour(k) : std::nullopt;
        setSeriesColour(k, chosen ? *chosen : colourForIndex(k, index));
    }

    syncAttachment();
    chartView_->forgetZoomHistory();
    fillChart();
    yAutoScale_ = true;
    applyAutoscale();
    reduceSeries();

    xauto_->setChecked(true);
    yauto_->setChecked(true);
    showLegend_->setChecked(true);
    xAutoScale_ = yAutoScale_ = true;

    ApplyLanguage();
    timer1_->start();
}

void TgraphView::FormClose() {
    if (live_ && live_->isVisible())
        live_->close();
}

void TgraphView::ApplyLanguage() {
    const app::UiText& text = values_.uiText;
    auto t = [&text](int entry) { return QString::fromStdString(text[entry]); };
    chart_->setTitle(t(36));
    xauto_->setText(t(37));
    yauto_->setText(t(38));
    showLegend_->setText(t(39));
    doScale_->setText(t(40));
    fPrint_->setText(t(41));
    graphConfig_->setText(t(47));
    gRefresh_->setText(t(48));
    largeValues_->setText(t(49));
    fImage_->setText(programText(app::ProgramText::GraphImageButton));
    chartView_->setToolTip(programText(app::ProgramText::GraphChartTooltip));
    for (int k = 1; k <= 4; ++k) {
        series_[k - 1]->setName(channelCaption(k));
        ch_[k - 1]->setText(channelCaption(k));
    }
    fitPanel();
}

void TgraphView::fitPanel() {
    // Longer translations and limit values widen their controls and move
    // their neighbours; the window grows only when the panel would run past
    // its edge. Back to the normal width when the texts fit again, unless the
    // user has resized the window meanwhile.
    const int needed = fitControls(*panel_) + kPanelMargin;
    const int wanted = std::max(kClientWidth, needed);
    if (needed > width() || (width() == fittedWidth_ && wanted != width()))
        resize(wanted, height());
    fittedWidth_ = width();
}

QString TgraphView::programText(app::ProgramText id) const {
    return shownText(id, values_.settings.language.load());
}

void TgraphView::fillChart() {
    state_ = values_.memory.copyChronological(rows_);
    analysis::splitChannels(rows_, channelValues_);
    applyAutoscale();
    reduceSeries();
}

void TgraphView::applyAutoscale() {
    if (!xAutoScale_ && !yAutoScale_)
        return;
    std::array<bool, 4> attached{};
    for (int k = 1; k <= 4; ++k)
        attached[k - 1] = isAttached(k);
    const analysis::Extents e = analysis::seriesExtents(channelValues_, attached);
    // Nothing to scale to: the axes keep their limits.
    if (e.empty)
        return;
    std::optional<std::pair<double, double>> x;
    std::optional<std::pair<double, double>> y;
    if (xAutoScale_)
        x = autoRange(e.xMin, e.xMax);
    if (yAutoScale_ && std::isfinite(e.yMin) && std::isfinite(e.yMax))
        y = autoRange(e.yMin, e.yMax);
    const bool xChanges = x && (x->first != axisX_->min() || x->second != axisX_->max());
    const bool yChanges = y && (y->first != axisY_->min() || y->second != axisY_->max());
    if (!xChanges && !yChanges)
        return;
    // Each range change lays out every attached curve anew. Emptied first,
    // the curves are laid out once, when reduceSeries refills them (every
    // caller does, at once, before anything is drawn).
    for (auto* s : series_) {
        if (s->count() > 0)
            s->clear();
    }
    if (xChanges)
        setXRange(x->first, x->second);
    if (yChanges)
        setYRange(y->first, y->second);
}

void TgraphView::reduceSeries() {
    const int columns = static_cast<int>(std::ceil(chart_->plotArea().width()));
    reducedColumns_ = columns;
    const double xMin = axisX_->min();
    const double xMax = axisX_->max();
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& y = channelValues_[k];
        analysis::reduceMinMax(y.data(), y.size(), xMin, xMax, columns, reduced_);
        points_.resize(static_cast<qsizetype>(reduced_.size()));
        for (std::size_t i = 0; i < reduced_.size(); ++i)
            points_[static_cast<qsizetype>(i)] = QPointF(reduced_[i].x, reduced_[i].y);
        // An unchanged curve (the memory did not move since the last refresh)
        // is not laid out again.
        if (series_[k]->points() != points_)
            series_[k]->replace(points_);
        // A line needs two points: a single sample is drawn as a dot.
        if (y.size() == 1)
            series_[k]->setLightMarker(dotImage(colours_[k]));
        else if (!series_[k]->lightMarker().isNull())
            series_[k]->setLightMarker(QImage());
    }
}

void TgraphView::setXRange(double min, double max) {
    // The label step for the new range first (see AxisLabels::placeX).
    labels_->placeX(min, max);
    axisX_->setRange(min, max);
}

void TgraphView::setYRange(double min, double max) {
    axisY_->setRange(min, max);
}

void TgraphView::updateXTicks() {
    labels_->placeX();
}

void TgraphView::rebuildYLabels() {
    labels_->placeY(yStep_);
}

void TgraphView::syncAttachment() {
    bool same = true;
    for (int k = 1; k <= 4; ++k)
        same = same && isAttached(k) == ch_[k - 1]->isChecked();
    if (same)
        return;
    // Re-adding in channel order keeps the legend in channel order.
    for (auto* s : series_) {
        if (s->chart()) {
            chart_->removeSeries(s);
            s->setParent(this);
        }
    }
    for (int k = 1; k <= 4; ++k) {
        if (!ch_[k - 1]->isChecked())
            continue;
        QLineSeries* s = series_[k - 1];
        chart_->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        s->setPen(QPen(colours_[k - 1], 1));
    }
}

void TgraphView::writeLimitEdits(bool x, bool y) {
    if (x) {
        minx_->setText(limitText(limits_.XMin));
        maxx_->setText(limitText(limits_.XMax));
    }
    if (y) {
        miny_->setText(limitText(limits_.YMin));
        maxy_->setText(limitText(limits_.YMax));
    }
    // Each box as wide as its whole value.
    fitPanel();
}

void TgraphView::readAxisLimits(bool x, bool y) {
    if (x) {
        limits_.XMin = axisX_->min();
        limits_.XMax = axisX_->max();
    }
    if (y) {
        limits_.YMin = axisY_->min();
        limits_.YMax = axisY_->max();
    }
    writeLimitEdits(x, y);
}

void TgraphView::Timer1Timer() {
    timer1_->stop();
    readAxisLimits(true, true);
}

void TgraphView::RefreshSeries() {
    fillChart();

    if (state_.writePosition > 0 && live_ && !rows_.empty()) {
        // The chronological copy ends with the row at WritePosition - 1.
        const acquisition::SampleRow& newest = rows_.back();
        const char dec = SampleListModel::decimalSeparator();
        for (int k = 1; k <= 4; ++k) {
            if (ch_[k - 1]->isChecked()) {
                live_->setValueText(
                    k, QString::fromStdString(common::formatValue(newest.channel[k - 1], dec)));
            }
        }
    }

    yStep_ = analysis::preferredYStep(axisY_->max() - axisY_->min());
    rebuildYLabels();
}

void TgraphView::Chart1Zoom() {
    reduceSeries();
    readAxisLimits(true, true);
    xauto_->setChecked(false);
    yauto_->setChecked(false);
}

void TgraphView::xautoClick(bool checked) {
    xAutoScale_ = checked;
    if (!checked)
        return;
    chartView_->forgetZoomHistory();
    applyAutoscale();
    reduceSeries();
    readAxisLimits(true, false);
}

void TgraphView::yautoClick(bool checked) {
    yAutoScale_ = checked;
    if (!checked)
        return;
    chartView_->forgetZoomHistory();
    applyAutoscale();
    reduceSeries();
    readAxisLimits(false, true);
}

void TgraphView::ShowLegendClick(bool checked) {
    chart_->legend()->setVisible(checked);
}

void TgraphView::GRefreshClick(bool checked) {
    if (checked)
        timer2_->start();
    else
        timer2_->stop();
}

void TgraphView::doScaleClick() {
    const QString caption = QString::fromStdString(values_.uiText[34]);
    limits_.XMin = parseEdit(minx_);
    limits_.XMax = parseEdit(maxx_);
    writeLimitEdits(true, false);
    // A limit that is not a finite number cannot make a range either.
    if (!(limits_.XMin < limits_.XMax) || !std::isfinite(limits_.XMin) ||
        !std::isfinite(limits_.XMax)) {
        dialogs_.message(this, QString::fromStdString(values_.uiText[33]), caption,
                         QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    xauto_->setChecked(false);
    setXRange(limits_.XMin, limits_.XMax);
    reduceSeries();
    // The typed view is where undo zoom returns to from now on.
    chartView_->forgetZoomHistory();

    limits_.YMin = parseEdit(miny_);
    limits_.YMax = parseEdit(maxy_);
    writeLimitEdits(false, true);
    if (!(limits_.YMin < limits_.YMax) || !std::isfinite(limits_.YMin) ||
        !std::isfinite(limits_.YMax)) {
        dialogs_.message(this, QString::fromStdString(values_.uiText[35]), caption,
                         QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    yauto_->setChecked(false);
    setYRange(limits_.YMin, limits_.YMax);
}

void TgraphView::ChClick(int channel, bool checked) {
    syncAttachment();
    applyAutoscale();
    reduceSeries();
    app::SettingsFile settings(values_.settingsFilePath());
    settings.writeBool("Channel " + std::to_string(channel), checked);
}

void TgraphView::largeValuesClick(bool checked) {
    if (!live_)
        return;
    if (checked) {
        live_->show();
        live_->raise();
        gRefresh_->setChecked(true);
    } else {
        live_->hide();
    }
}

void TgraphView::GraphConfigClick() {
    if (lineColor_)
        lineColor_->exec();
}

void TgraphView::renderChart(QPainter& painter, const QRectF& target) {
    // Laid out anew at the band's aspect ratio with the view's width, so that
    // texts and lines keep their proportions, then put back.
    const QSizeF shown = chart_->size();
    const qreal width = std::max<qreal>(1, shown.width());
    const QSizeF page(width, std::max<qreal>(1, std::floor(width * target.height() /
                                                           std::max<qreal>(1, target.width()))));
    chart_->resize(page);
    if (chart_->layout())
        chart_->layout()->activate();
    reduceSeries();
    rebuildYLabels();
    chart_->scene()->render(&painter, target, QRectF(chart_->pos(), page), Qt::IgnoreAspectRatio);
    chart_->resize(shown);
    if (chart_->layout())
        chart_->layout()->activate();
    reduceSeries();
    rebuildYLabels();
}

void TgraphView::fImageClick() {
    saveChartImageAs(*this, dialogs_, QString::fromStdString(values_.fileDialogFolder()),
                     values_.settings.language, QString::fromStdString(values_.uiText[34]));
}

void TgraphView::copyChartImage() {
    ChartImage(*this).copyToClipboard();
}

void TgraphView::fPrintClick() {
    PrintContent content;
    content.statistics = analysis::ComputeStatistics(values_.memory);
    for (int k = 1; k <= 4; ++k)
        content.captions[k - 1] = channelCaption(k);
    content.decimalSeparator = SampleListModel::decimalSeparator();

    printer_->setPageOrientation(QPageLayout::Portrait);
    // A PDF file as the target (always offered; the only one on a machine
    // without printers): the dialog proposes a file in the documents folder.
    if (printer_->outputFormat() == QPrinter::PdfFormat && printer_->outputFileName().isEmpty()) {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty())
            folder = QDir::homePath();
        printer_->setOutputFileName(QDir(folder).filePath(QStringLiteral("graph.pdf")));
    }
    // A cancelled dialog keeps the earlier settings and printing goes on,
    // except into a file the user never confirmed: nothing is written (or
    // overwritten) without the user having chosen the file.
    if (printerSetup_(*printer_, this) && printer_->outputFormat() == QPrinter::PdfFormat)
        confirmedPdf_ = printer_->outputFileName();
    if (printer_->outputFormat() == QPrinter::PdfFormat &&
        printer_->outputFileName() != confirmedPdf_) {
        chartView_->viewport()->update();
        return;
    }
    const bool printed = printGraphPage(
        *printer_, [this](QPainter& p, const QRectF& band) { renderChart(p, band); }, content);
    if (!printed) {
        dialogs_.message(this, programText(app::ProgramText::PrintFailed),
                         QString::fromStdString(values_.uiText[34]), QMessageBox::Critical,
                         QMessageBox::Ok);
    }
    chartView_->viewport()->update();
}

void TgraphView::setRecordingSign(const QString& text) {
    if (!recordingSign_) {
        recordingSign_ = new QLabel(chartView_);
        recordingSign_->setObjectName(QStringLiteral("RecordingSign"));
        recordingSign_->setStyleSheet(
            QStringLiteral("QLabel { color: #c00000; font-weight: bold; }"));
        recordingSign_->move(8, 4);
    }
    recordingSign_->setText(QStringLiteral("\u25CF ") + text);
    recordingSign_->adjustSize();
    recordingSign_->setVisible(!text.isEmpty());
}

}  // namespace tarvelo::gui
