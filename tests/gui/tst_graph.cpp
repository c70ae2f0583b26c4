// The graph window with its live value window and line colour dialog: the
// showing, scaling, zoom and pan with the mouse and the wheel, channels and
// colours in the settings file, the refresh while the memory grows, the
// picture of the chart in files and on the clipboard, the main window's keys.

#include <atomic>
#include <cmath>
#include <thread>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "acquisition/mmesswerte.h"
#include "analysis/chartimage.h"
#include "analysis/chartview.h"
#include "app/dialogs.h"
#include "app/shown_text.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::acquisition::SampleRow;
using tarvelo::app::MenuItem;
using tarvelo::gui::ChartImage;
using tarvelo::gui::TgraphView;
using tarvelo::guitest::Rig;

using tarvelo::test::makeRow;

namespace {

// Sample i of a memory whose channels are easy to tell apart.
SampleRow numbered(int i) {
    return makeRow(i, -2.0 * i, 0.5 * i, 1000 + i);
}

void append(Rig& rig, int from, int to) {
    for (int i = from; i < to; ++i)
        rig.values.memory.AppendSample(numbered(i));
}

// The lines of the settings file, without their line ends.
QStringList settingLines(Rig& rig) {
    QStringList lines;
    for (const QByteArray& line : rig.readSettings().split('\n'))
        lines << QString::fromLatin1(line).remove(QLatin1Char('\r'));
    return lines;
}

QString caption(Rig& rig, int channel) {
    return QString::fromStdString(rig.window().sampleList().channelCaption(channel));
}

// Shows the graph the way the main window's button does.
TgraphView& showGraph(Rig& rig) {
    rig.window().GrafikClick();
    TgraphView& g = *rig.windows.graph;
    if (!g.isVisible())
        qFatal("the graph window did not open");
    return g;
}

// Runs the program against the simulated instrument until the first contact
// is made: the start-up sequence has emptied the memory by then, and the
// channel captions carry their units.
void startRig(Rig& rig, const QStringList& settings = {}) {
    rig.writeSettings(settings);
    rig.startReady();
}

QString text(Rig& rig, int entry) {
    return QString::fromStdString(rig.values.uiText[entry]);
}

QList<QPointF> points(TgraphView& g, int channel) {
    return g.series(channel)->points();
}

// Sends a mouse event to the chart's viewport, with the buttons held.
void mouse(TgraphView& g, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held,
           QPointF at) {
    QWidget* viewport = g.chartView()->viewport();
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

void drag(TgraphView& g, Qt::MouseButton button, QPointF from, QPointF to) {
    mouse(g, QEvent::MouseButtonPress, button, button, from);
    for (int step = 1; step <= 4; ++step)
        mouse(g, QEvent::MouseMove, Qt::NoButton, button, from + (to - from) * step / 4.0);
    mouse(g, QEvent::MouseButtonRelease, button, Qt::NoButton, to);
}

// One turn of the wheel by `notches` (positive: away from the user).
void wheel(TgraphView& g, QPointF at, int notches) {
    QWidget* viewport = g.chartView()->viewport();
    QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
}

void undoZoom(TgraphView& g) {
    const QPointF at = g.chart()->plotArea().center();
    mouse(g, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, at);
    mouse(g, QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, at);
}

struct View {
    double x0, x1, y0, y1;
    bool operator==(const View&) const = default;
};

View viewOf(TgraphView& g) {
    return {g.axisX()->min(), g.axisX()->max(), g.axisY()->min(), g.axisY()->max()};
}

// Pixels of exactly `colour` inside `area` of the image.
int pixelsOf(const QImage& image, const QColor& colour, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
    }
    return n;
}

QString limit(double v) {
    return QString::number(v, 'f', 2);
}

// Whether an edit shows its whole text: with the cursor at the end, the text
// begins where it begins with the cursor at the start (an edit too narrow
// scrolls it to the left).
bool showsWhole(QLineEdit* edit) {
    auto cursorX = [edit] {
        edit->repaint();  // the edit scrolls its text while painting
        return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left();
    };
    edit->home(false);
    const int start = cursorX();
    edit->end(false);
    const int end = cursorX();
    return std::abs(end - start - edit->fontMetrics().horizontalAdvance(edit->text())) <= 1;
}

void verifyEditsMatchAxes(TgraphView& g) {
    QCOMPARE(g.minx()->text(), limit(g.axisX()->min()));
    QCOMPARE(g.maxx()->text(), limit(g.axisX()->max()));
    QCOMPARE(g.miny()->text(), limit(g.axisY()->min()));
    QCOMPARE(g.maxy()->text(), limit(g.axisY()->max()));
}

}  // namespace

class TestGraph : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void layoutAndTexts();
    void fiveRowsAndTheLimitsAfterTheShow();
    void wrappedMemoryStartsAtWritePosition();
    void rescaleChecksXBeforeY();
    void zoomPanAndUndoWithTheMouse();
    void channelChoicePersists();
    void liveValuesFollowTheRefresh();
    void refreshRightAfterAWrapKeepsLiveValues();
    void yLabelStepAndFormat();
    void coloursFromTheDialogAndTheSettings();
    void refreshReadsOneSnapshotWhileSamplesArrive();
    void followsTheStreamingInstrument();
    void pictureFilesAndClipboard();
    void wheelZoomAndUndoToThisShowing();
    void oneRowShowsItsPoint();
    void mainWindowKeysWorkHere();
    void toolsLeaveTheViewToTheOperator();
};

void TestGraph::layoutAndTexts() {
    Rig rig;
    startRig(rig);
    TgraphView& g = *rig.windows.graph;
    // Hidden: a language change still reaches its texts.
    rig.values.uiText.applyLanguage(0);
    g.ApplyLanguage();
    QCOMPARE(g.xauto()->text(), text(rig, 37));
    QCOMPARE(g.gRefresh()->text(), text(rig, 48));
    QCOMPARE(g.chart()->title(), text(rig, 36));
    QVERIFY(g.xauto()->text() != QStringLiteral("Autoscale X-Axis"));
    rig.values.uiText.applyLanguage(1);

    append(rig, 0, 3);
    showGraph(rig);
    QCOMPARE(g.windowTitle(), QStringLiteral("Graphic View"));
    QCOMPARE(g.chart()->title(), QStringLiteral("Grafic"));
    // The controls on the panel, with their captions; cut or overlapping
    // texts are the layout test's business.
    const struct {
        QWidget* widget;
        QString caption;
    } controls[] = {
        {g.xauto(), QStringLiteral("Autoscale X-Axis")},
        {g.minx(), {}},
        {g.maxx(), {}},
        {g.yauto(), QStringLiteral("Autoscale Y-Axis")},
        {g.miny(), {}},
        {g.maxy(), {}},
        {g.showLegend(), QStringLiteral("Show Legend")},
        {g.gRefresh(), QStringLiteral("Auto-Refresh")},
        {g.doScale(), QStringLiteral("Rescale")},
        {g.fPrint(), QStringLiteral("Print")},
        {g.fImage(), QStringLiteral("Image...")},
        {g.graphConfig(), QStringLiteral("Config")},
        {g.channelBox(1), caption(rig, 1)},
        {g.channelBox(2), caption(rig, 2)},
        {g.channelBox(3), caption(rig, 3)},
        {g.channelBox(4), caption(rig, 4)},
        {g.largeValues(), QStringLiteral("Big meas. value")},
    };
    for (const auto& c : controls) {
        QCOMPARE(c.widget->parentWidget(), g.panel());
        if (auto* box = qobject_cast<QAbstractButton*>(c.widget))
            QCOMPARE(box->text(), c.caption);
        // Nothing is cut off at the window's right edge or the panel's foot.
        QVERIFY(c.widget->geometry().right() < g.width());
        QVERIFY(c.widget->geometry().bottom() < g.panel()->height());
    }
    // Each range's bounds under its autoscale box, minimum left of maximum.
    QVERIFY(g.minx()->y() > g.xauto()->geometry().bottom());
    QVERIFY(g.maxx()->x() > g.minx()->geometry().right());
    QVERIFY(g.miny()->y() > g.yauto()->geometry().bottom());
    QVERIFY(g.maxy()->x() > g.miny()->geometry().right());
    // The edits are labelled with their names, untranslated.
    QStringList labels;
    for (auto* label : g.panel()->findChildren<QLabel*>())
        labels << label->text();
    labels.sort();
    QCOMPARE(labels, (QStringList{"maxx", "maxy", "minx", "miny"}));
    QCOMPARE(caption(rig, 3), QStringLiteral("Channel 3 (N.C.)"));
    QCOMPARE(g.series(2)->name(), QStringLiteral("Channel 2 (mm)"));
    QVERIFY(g.chartView()->toolTip().contains(QStringLiteral("Zoom")));
    QVERIFY(g.chartView()->toolTip().contains(QStringLiteral("Undo")));
    QCOMPARE(g.timer2()->interval(), 500);
    QVERIFY(!g.timer2()->isSingleShot());
}

void TestGraph::fiveRowsAndTheLimitsAfterTheShow() {
    Rig rig;
    startRig(rig);
    const double c1[] = {3, 1, 4, 1, 5};
    for (int i = 0; i < 5; ++i)
        rig.values.memory.AppendSample(makeRow(c1[i], 10 * i, -1, 0.25 * i));
    TgraphView& g = showGraph(rig);

    // The show's end state: Auto-Refresh off, both axes automatic, legend on,
    // Timer1 waiting.
    QVERIFY(!g.gRefresh()->isChecked());
    QVERIFY(!g.timer2()->isActive());
    QVERIFY(g.xauto()->isChecked());
    QVERIFY(g.yauto()->isChecked());
    QVERIFY(g.showLegend()->isChecked());
    QVERIFY(g.chart()->legend()->isVisible());
    QVERIFY(g.timer1()->isActive());
    QVERIFY(g.timer1()->isSingleShot());
    QCOMPARE(g.timer1()->interval(), 100);

    for (int k = 1; k <= 4; ++k) {
        const QList<QPointF> p = points(g, k);
        QCOMPARE(p.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(p[i].x(), double(i));
            QCOMPARE(p[i].y(), rig.values.memory.row(i).channel[k - 1]);
        }
    }
    QCOMPARE(g.chart()->series().size(), 4);
    QCOMPARE(g.chart()->legend()->markers().size(), 4);

    // Timer1 writes the four limits as the axes have them, two decimals.
    g.minx()->setText(QStringLiteral("junk"));
    g.maxy()->setText(QString());
    QTRY_VERIFY(!g.timer1()->isActive());
    QCOMPARE(g.minx()->text(), QStringLiteral("0.00"));
    QCOMPARE(g.maxx()->text(), QStringLiteral("4.00"));
    QCOMPARE(g.miny()->text(), QStringLiteral("-1.00"));
    QCOMPARE(g.maxy()->text(), QStringLiteral("40.00"));
    QCOMPARE(g.limits().XMax, 4.0);
    QCOMPARE(g.limits().YMin, -1.0);

    // With the user's decimal comma the next showing writes commas.
    g.close();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    QCOMPARE(g.minx()->text(), QStringLiteral("0,00"));
    QCOMPARE(g.maxx()->text(), QStringLiteral("4,00"));
}

void TestGraph::wrappedMemoryStartsAtWritePosition() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 10240 + 7);
    QCOMPARE(rig.values.memory.WritePosition(), 7);
    TgraphView& g = showGraph(rig);

    const auto& v1 = g.channelValues(1);
    QCOMPARE(v1.size(), std::size_t(10240));
    QCOMPARE(v1.front(), 7.0);     // the row at WritePosition, the oldest
    QCOMPARE(v1.back(), 10246.0);  // the row at WritePosition - 1, the newest
    QCOMPARE(g.channelValues(4)[100], 1107.0);

    // The curves are drawn from fewer points, yet start and end where the
    // data does, and the automatic axes are those of all points.
    const QList<QPointF> p = points(g, 1);
    QVERIFY(p.size() < 10240);
    QCOMPARE(p.front(), QPointF(0, 7));
    QCOMPARE(p.back(), QPointF(10239, 10246));
    QCOMPARE(g.axisX()->min(), 0.0);
    QCOMPARE(g.axisX()->max(), 10239.0);
    QCOMPARE(g.axisY()->min(), -2.0 * 10246);
    QCOMPARE(g.axisY()->max(), 1000.0 + 10246);
    QTRY_VERIFY(!g.timer1()->isActive());
    QCOMPARE(g.maxx()->text(), QStringLiteral("10239.00"));
    QCOMPARE(g.miny()->text(), QStringLiteral("-20492.00"));

    // Without channels 2 and 4 the Y axis follows channels 1 and 3 only.
    g.channelBox(2)->setChecked(false);
    g.channelBox(4)->setChecked(false);
    QCOMPARE(g.axisY()->min(), 0.5 * 7);
    QCOMPARE(g.axisY()->max(), 10246.0);
    QCOMPARE(g.miny()->text(),
             QStringLiteral("-20492.00"));  // edits follow the axes only on request
}

void TestGraph::rescaleChecksXBeforeY() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 50);
    TgraphView& g = showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    const double y0 = g.axisY()->min();
    const double y1 = g.axisY()->max();

    // Equal X limits: entry 33, and the Y edits are not even read.
    g.minx()->setText(QStringLiteral("5"));
    g.maxx()->setText(QStringLiteral("5,0"));
    g.miny()->setText(QStringLiteral("abc"));
    g.maxy()->setText(QStringLiteral("xyz"));
    QTest::mouseClick(g.doScale(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, text(rig, 33));
    QCOMPARE(rig.dialogs.messages[0].caption, text(rig, 34));
    QCOMPARE(rig.dialogs.messages[0].icon, QMessageBox::Critical);
    QCOMPARE(g.minx()->text(), QStringLiteral("5.00"));
    QCOMPARE(g.maxx()->text(), QStringLiteral("5.00"));
    QCOMPARE(g.miny()->text(), QStringLiteral("abc"));
    QCOMPARE(g.maxy()->text(), QStringLiteral("xyz"));
    QVERIFY(g.xauto()->isChecked());
    QCOMPARE(g.axisX()->max(), 49.0);

    // A valid X range with an invalid Y range: X is applied, then entry 35.
    g.minx()->setText(QStringLiteral("2,5"));
    g.maxx()->setText(QStringLiteral("30"));
    g.miny()->setText(QStringLiteral("7"));
    g.maxy()->setText(QString());  // no number: 0
    QTest::mouseClick(g.doScale(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QCOMPARE(rig.dialogs.messages[1].text, text(rig, 35));
    QCOMPARE(rig.dialogs.messages[1].caption, text(rig, 34));
    QCOMPARE(g.axisX()->min(), 2.5);
    QCOMPARE(g.axisX()->max(), 30.0);
    QVERIFY(!g.xauto()->isChecked());
    QVERIFY(g.yauto()->isChecked());
    QCOMPARE(g.axisY()->min(), y0);
    QCOMPARE(g.axisY()->max(), y1);
    QCOMPARE(g.minx()->text(), QStringLiteral("2.50"));
    QCOMPARE(g.miny()->text(), QStringLiteral("7.00"));
    QCOMPARE(g.maxy()->text(), QStringLiteral("0.00"));

    // Both valid: fixed limits that later samples do not move.
    g.miny()->setText(QStringLiteral("-10"));
    g.maxy()->setText(QStringLiteral("10.5"));
    QTest::mouseClick(g.doScale(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QVERIFY(!g.yauto()->isChecked());
    QCOMPARE(g.axisY()->max(), 10.5);
    append(rig, 50, 80);
    g.RefreshSeries();
    QCOMPARE(g.axisX()->max(), 30.0);
    QCOMPARE(g.axisY()->min(), -10.0);
    QCOMPARE(g.channelValues(1).size(), std::size_t(80));

    // Ticking an autoscale box brings its axis back to the data.
    g.xauto()->setChecked(true);
    QCOMPARE(g.axisX()->max(), 79.0);
    QCOMPARE(g.maxx()->text(), QStringLiteral("79.00"));
    QCOMPARE(g.axisY()->max(), 10.5);
}

void TestGraph::zoomPanAndUndoWithTheMouse() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 2000);
    TgraphView& g = showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    const QRectF area = g.chart()->plotArea();
    const double x0 = g.axisX()->min(), x1 = g.axisX()->max();
    const double y0 = g.axisY()->min(), y1 = g.axisY()->max();

    // A rubber band over the middle half zooms into it.
    drag(g, Qt::LeftButton, area.topLeft() + QPointF(area.width() / 4, area.height() / 4),
         area.bottomRight() - QPointF(area.width() / 4, area.height() / 4));
    QVERIFY(!g.xauto()->isChecked());
    QVERIFY(!g.yauto()->isChecked());
    QVERIFY(g.axisX()->min() > x0 + (x1 - x0) * 0.2);
    QVERIFY(g.axisX()->max() < x1 - (x1 - x0) * 0.2);
    QVERIFY(g.axisY()->max() < y1 - (y1 - y0) * 0.2);
    verifyEditsMatchAxes(g);
    QCOMPARE(g.limits().XMin, g.axisX()->min());
    // The zoomed curves are drawn from the points of the view and its edges.
    const QList<QPointF> zoomed = points(g, 1);
    QVERIFY(zoomed.front().x() < g.axisX()->min());
    QVERIFY(zoomed.back().x() > g.axisX()->max());

    // A refresh keeps the view as the user left it.
    const double zx0 = g.axisX()->min(), zx1 = g.axisX()->max();
    append(rig, 2000, 2100);
    g.RefreshSeries();
    QCOMPARE(g.axisX()->min(), zx0);
    QCOMPARE(g.axisX()->max(), zx1);

    // Dragging with the middle button pans: same width, moved.
    drag(g, Qt::MiddleButton, area.center(), area.center() + QPointF(100, 0));
    QVERIFY(g.axisX()->max() < zx1);
    QVERIFY(std::abs((g.axisX()->max() - g.axisX()->min()) - (zx1 - zx0)) < 1e-6 * (zx1 - zx0));
    verifyEditsMatchAxes(g);

    // The right button undoes zoom and pan.
    mouse(g, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, area.center());
    mouse(g, QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, area.center());
    QCOMPARE(g.axisX()->min(), x0);
    QCOMPARE(g.axisX()->max(), x1);
    QCOMPARE(g.axisY()->min(), y0);
    verifyEditsMatchAxes(g);
    QVERIFY(!g.xauto()->isChecked());

    // A plain click is no zoom.
    g.xauto()->setChecked(true);
    mouse(g, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, area.center());
    mouse(g, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, area.center());
    QVERIFY(g.xauto()->isChecked());
}

void TestGraph::channelChoicePersists() {
    Rig rig;
    startRig(rig, {QStringLiteral("Channel 3=0")});
    append(rig, 0, 20);
    // Showing the stored choice writes nothing; only a click does.
    const QByteArray before = rig.readSettings();
    TgraphView& g = showGraph(rig);
    QCOMPARE(rig.readSettings(), before);
    QVERIFY(!g.channelBox(3)->isChecked());
    QVERIFY(!g.isAttached(3));
    QCOMPARE(g.chart()->series().size(), 3);
    // Detached, its points are kept up to date all the same.
    QCOMPARE(points(g, 3).size(), 20);

    for (int k = 1; k <= 4; ++k)
        g.channelBox(k)->setChecked(false);
    QVERIFY(g.chart()->series().isEmpty());
    QVERIFY(g.chart()->legend()->markers().isEmpty());
    const QStringList lines = settingLines(rig);
    for (int k = 1; k <= 4; ++k)
        QVERIFY(lines.contains(QStringLiteral("Channel %1=0").arg(k)));
    QVERIFY(lines.contains(QStringLiteral("IP-Server=127.0.0.1")));

    g.close();
    showGraph(rig);
    QVERIFY(g.chart()->series().isEmpty());
    for (int k = 1; k <= 4; ++k)
        QVERIFY(!g.channelBox(k)->isChecked());

    g.channelBox(2)->setChecked(true);
    QVERIFY(settingLines(rig).contains(QStringLiteral("Channel 2=1")));
    QCOMPARE(g.chart()->series(),
             QList<QAbstractSeries*>{static_cast<QAbstractSeries*>(g.series(2))});
    QCOMPARE(g.axisY()->min(), -2.0 * 19);
}

void TestGraph::liveValuesFollowTheRefresh() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 10);
    TgraphView& g = showGraph(rig);
    tarvelo::gui::Tmesswerte& live = *rig.windows.live;
    g.channelBox(3)->setChecked(false);

    g.largeValues()->setChecked(true);
    QVERIFY(live.isVisible());
    QVERIFY(live.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(live.size(), QSize(526, 319));
    QCOMPARE(live.windowTitle(), text(rig, 50));
    QVERIFY(g.gRefresh()->isChecked());
    QVERIFY(g.timer2()->isActive());
    QCOMPARE(live.channelLabel(2)->text(), text(rig, 8));
    QCOMPARE(live.unitLabel(1)->text(), QStringLiteral("N"));
    QCOMPARE(live.unitLabel(2)->text(), QStringLiteral("mm"));
    QCOMPARE(live.unitLabel(3)->text(), QString());  // not connected
    QCOMPARE(live.unitLabel(4)->text(), QStringLiteral("\u00b0C"));
    QCOMPARE(live.valueLabel(1)->font().pixelSize(), 48);
    QVERIFY(live.valueLabel(1)->font().bold());
    QVERIFY(live.unitLabel(1)->font().bold());
    for (int k = 1; k <= 4; ++k)
        QCOMPARE(live.valueLabel(k)->text(), QStringLiteral("0,0"));

    // Timer2 refreshes: the newest row, five decimals; channel 3 is off.
    append(rig, 10, 12);
    QTRY_COMPARE(live.valueLabel(1)->text(), QStringLiteral("11.00000"));
    QCOMPARE(live.valueLabel(2)->text(), QStringLiteral("-22.00000"));
    QCOMPARE(live.valueLabel(4)->text(), QStringLiteral("1011.00000"));
    QCOMPARE(live.valueLabel(3)->text(), QStringLiteral("0,0"));
    QTRY_COMPARE(g.channelValues(1).size(), std::size_t(12));

    // A number too wide for the field at 48 pixels is made smaller, never
    // cut off.
    rig.values.memory.AppendSample(makeRow(-123456789.5, 1e15, 0, 1));
    QTRY_COMPARE(live.valueLabel(1)->text(), QStringLiteral("-123456789.50000"));
    QTRY_COMPARE(live.valueLabel(2)->text(), QStringLiteral("1000000000000000.00000"));
    for (int k : {1, 2}) {
        QLabel* value = live.valueLabel(k);
        QVERIFY(value->font().pixelSize() < 48);
        QVERIFY(value->fontMetrics().horizontalAdvance(value->text()) <= value->width());
    }
    QCOMPARE(live.valueLabel(4)->font().pixelSize(), 48);

    // Unticking hides the window and leaves Auto-Refresh on.
    g.largeValues()->setChecked(false);
    QVERIFY(!live.isVisible());
    QVERIFY(g.gRefresh()->isChecked());
    // Ticking again shows it afresh; closing it unticks the box.
    g.largeValues()->setChecked(true);
    QCOMPARE(live.valueLabel(1)->text(), QStringLiteral("0,0"));
    live.close();
    QVERIFY(!g.largeValues()->isChecked());
    QVERIFY(!live.isVisible());

    // Closing the graph window closes the live window too.
    g.largeValues()->setChecked(true);
    g.close();
    QVERIFY(!live.isVisible());
    QVERIFY(!g.largeValues()->isChecked());
}

void TestGraph::refreshRightAfterAWrapKeepsLiveValues() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 10239);
    TgraphView& g = showGraph(rig);
    tarvelo::gui::Tmesswerte& live = *rig.windows.live;
    g.RefreshSeries();
    QCOMPARE(live.valueLabel(1)->text(), QStringLiteral("10238.00000"));

    append(rig, 10239, 10240);
    QCOMPARE(rig.values.memory.WritePosition(), 0);
    QVERIFY(rig.values.memory.Wrapped());
    g.RefreshSeries();
    QCOMPARE(live.valueLabel(1)->text(), QStringLiteral("10238.00000"));
    QCOMPARE(g.channelValues(1).back(), 10239.0);

    append(rig, 10240, 10241);
    g.RefreshSeries();
    QCOMPARE(live.valueLabel(1)->text(), QStringLiteral("10240.00000"));
    QCOMPARE(g.channelValues(1).front(), 1.0);
}

void TestGraph::yLabelStepAndFormat() {
    Rig rig;
    startRig(rig);
    for (int i = 0; i < 6; ++i)
        rig.values.memory.AppendSample(makeRow(0.1 * i, 0.1 * i, 0.1 * i, 0.1 * i));
    TgraphView& g = showGraph(rig);
    QVERIFY(!g.preferredYStep());  // automatic until the first refresh

    const QRegularExpression shape(QStringLiteral("^-?\\d{1,3}(,\\d{3})*(\\.\\d{0,5}[1-9])?$"));
    auto verifyLabels = [&](double step) {
        const QStringList labels = g.yAxisLabels();
        QVERIFY(labels.size() >= 2);
        double previous = -INFINITY;
        for (const QString& label : labels) {
            QVERIFY2(shape.match(label).hasMatch(), qPrintable(label));
            const double v = QString(label).remove(',').toDouble();
            QVERIFY(v >= g.axisY()->min() - 1e-9 && v <= g.axisY()->max() + 1e-9);
            // On multiples of the preferred step, never closer than it.
            QVERIFY(std::abs(v / step - std::round(v / step)) < 1e-6);
            if (previous > -INFINITY)
                QVERIFY(v - previous >= step * (1 - 1e-9));
            previous = v;
        }
    };

    // Range 0.5: 0.01.
    g.RefreshSeries();
    QCOMPARE(g.axisY()->max() - g.axisY()->min(), 0.5);
    QCOMPARE(g.preferredYStep(), std::optional<double>(0.01));
    verifyLabels(0.01);

    // Range exactly 10: automatic.
    rig.values.memory.clear();
    rig.values.memory.AppendSample(makeRow(-4, -4, -4, -4));
    rig.values.memory.AppendSample(makeRow(6, 6, 6, 6));
    g.RefreshSeries();
    QCOMPARE(g.axisY()->max() - g.axisY()->min(), 10.0);
    QVERIFY(!g.preferredYStep());

    // Large values: grouped thousands.
    rig.values.memory.AppendSample(makeRow(25000, 0, 0, 0));
    g.RefreshSeries();
    QVERIFY(!g.preferredYStep());
    QVERIFY(g.yAxisLabels().contains(QStringLiteral("20,000")));
    verifyLabels(1);

    // A tiny range: 0.00001.
    rig.values.memory.clear();
    for (double v : {1.0, 1.0004})
        rig.values.memory.AppendSample(makeRow(v, v, v, v));
    g.RefreshSeries();
    QCOMPARE(g.preferredYStep(), std::optional<double>(0.00001));
    verifyLabels(0.00001);
}

void TestGraph::coloursFromTheDialogAndTheSettings() {
    Rig rig;
    startRig(rig, {QStringLiteral("Color 3=99")});
    append(rig, 0, 5);
    TgraphView& g = showGraph(rig);
    tarvelo::gui::TLineColor& dialog = *rig.windows.lineColor;
    QCOMPARE(g.seriesColour(1), QColor(255, 0, 0));
    QCOMPARE(g.seriesColour(2), QColor(0, 255, 0));
    QCOMPARE(g.seriesColour(3), QColor(255, 255, 0));  // out of the list: the default
    QCOMPARE(g.seriesColour(4), QColor(0, 0, 255));

    bool checked = false;
    QTimer::singleShot(5000, &dialog, [&dialog] { dialog.reject(); });
    QTimer::singleShot(0, &dialog, [&] {
        QTRY_VERIFY(dialog.isVisible());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("LineColor"));
        QCOMPARE(dialog.size(), QSize(316, 258));
        QCOMPARE(dialog.label(2)->text(), QStringLiteral("Channel 2 (mm)"));
        // Long captions stay readable beside the lists.
        for (int k = 1; k <= 4; ++k)
            QVERIFY(dialog.label(k)->geometry().right() < dialog.colorBox(k)->x());
        QCOMPARE(dialog.colorBox(1)->currentIndex(), 9);
        QCOMPARE(dialog.colorBox(2)->currentText(), QStringLiteral("clLime"));
        QCOMPARE(dialog.colorBox(3)->currentIndex(), -1);
        QCOMPARE(dialog.colorBox(2)->count(), 16);
        QVERIFY(!dialog.colorBox(2)->itemIcon(4).isNull());
        // The user steps channel 2's list up from clLime to clNavy.
        QComboBox* box = dialog.colorBox(2);
        box->setFocus();
        for (int i = 0; i < 6; ++i)
            QTest::keyClick(box, Qt::Key_Up);
        QCOMPARE(box->currentText(), QStringLiteral("clNavy"));
        QCOMPARE(g.seriesColour(2), QColor(0, 0, 128));
        QVERIFY(settingLines(rig).contains(QStringLiteral("Color 2=4")));
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        checked = true;
    });
    QTest::mouseClick(g.graphConfig(), Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!rig.readSettings().contains("Color 1="));

    g.close();
    showGraph(rig);
    QCOMPARE(g.seriesColour(2), QColor(0, 0, 128));
    QCOMPARE(dialog.colorBox(2)->currentIndex(), 4);
    QCOMPARE(g.chart()->legend()->markers(g.series(2)).first()->brush().color(), QColor(0, 0, 128));
}

void TestGraph::refreshReadsOneSnapshotWhileSamplesArrive() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 100);
    TgraphView& g = showGraph(rig);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 100; !stop.load(); ++i)
            rig.values.memory.AppendSample(numbered(i));
    });
    for (int round = 0; round < 40; ++round) {
        g.RefreshSeries();
        const auto& v1 = g.channelValues(1);
        const auto& v2 = g.channelValues(2);
        QVERIFY(!v1.empty());
        QCOMPARE(v2.size(), v1.size());
        // Consecutive sample numbers, and every row whole.
        for (std::size_t i = 0; i < v1.size(); ++i) {
            if (i > 0 && v1[i] != v1[i - 1] + 1) {
                stop = true;
                writer.join();
                QFAIL(qPrintable(QStringLiteral("gap at %1").arg(i)));
            }
            if (v2[i] != -2.0 * v1[i]) {
                stop = true;
                writer.join();
                QFAIL("a torn row");
            }
        }
        QCOMPARE(g.axisX()->max(), double(v1.size() - 1));
    }
    stop = true;
    writer.join();
}

void TestGraph::followsTheStreamingInstrument() {
    Rig rig;
    rig.writeSettings({QStringLiteral("SampleRate=0")});
    rig.startReady();
    rig.window().StartStopTransferClick();
    QTRY_VERIFY_WITH_TIMEOUT(rig.values.memory.WritePosition() > 20,
                             tarvelo::guitest::kHungMs.count());
    TgraphView& g = showGraph(rig);
    g.largeValues()->setChecked(true);
    const std::size_t first = g.channelValues(1).size();
    QTRY_VERIFY_WITH_TIMEOUT(g.channelValues(1).size() > first + 10,
                             tarvelo::guitest::kHungMs.count());
    QTRY_VERIFY(rig.windows.live->valueLabel(1)->text() != QStringLiteral("0,0"));
    QVERIFY(
        rig.windows.live->valueLabel(1)->text().contains(QRegularExpression("^-?\\d+\\.\\d{5}$")));
    // Automatic X scaling follows the growing memory.
    QTRY_VERIFY(g.axisX()->max() > double(first));
    rig.window().StartStopTransferClick();
    g.close();
}

void TestGraph::pictureFilesAndClipboard() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 500);
    TgraphView& g = showGraph(rig);
    g.channelBox(4)->setChecked(false);
    // A view of the operator's own: the picture shows these limits.
    g.minx()->setText(QStringLiteral("100"));
    g.maxx()->setText(QStringLiteral("300"));
    g.miny()->setText(QStringLiteral("-250"));
    g.maxy()->setText(QStringLiteral("250"));
    g.doScaleClick();

    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("chart.png"));
    const QString svg = dir.filePath(QStringLiteral("chart.svg"));
    const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
    // The fourth: a missing folder is refused in the dialog, then a name
    // that cannot be written (a folder of that name) fails on saving.
    const QString blocked = dir.filePath(QStringLiteral("blocked.png"));
    QVERIFY(QDir().mkdir(blocked));
    rig.dialogs.fileAnswers = {png, svg, pdf, dir.filePath(QStringLiteral("missing/chart.png")),
                               blocked};
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(g.fImage(), Qt::LeftButton);
    QCOMPARE(g.fImage()->text(), QStringLiteral("Image..."));
    const QStringList yLabels = g.yAxisLabels();
    QVERIFY(yLabels.contains(QStringLiteral("-200")));
    const tarvelo::gui::FileRequest& asked = rig.dialogs.fileRequests.front();
    QVERIFY(asked.suffixFromFilter);
    QCOMPARE(asked.filter.count(QStringLiteral("(*.")), 3);
    // The missing folder and the unwritable name are told, the three others are not.
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("The folder does not exist:\n") +
                                               dir.filePath(QStringLiteral("missing")));
    for (const auto& message : rig.dialogs.messages)
        QCOMPARE(message.icon, QMessageBox::Critical);
    QVERIFY(rig.dialogs.messages[1].text.contains(blocked));

    // PNG: the chart's size in the window, the drawn curves' colours in the
    // plot area, and no trace of the hidden channel.
    QImage image(png);
    QCOMPARE(image.size(), g.chartView()->size());
    const QRect plot = g.chart()->plotArea().toRect();
    for (int k = 1; k <= 3; ++k)
        QVERIFY2(pixelsOf(image, g.seriesColour(k), plot) > 50, qPrintable(QString::number(k)));
    QCOMPARE(pixelsOf(image, g.seriesColour(4), plot), 0);

    // Ctrl+C in the window: the same picture on the clipboard.
    QGuiApplication::clipboard()->clear();
    g.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&g));
    QTest::keyClick(&g, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), image.size());
    QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
             image.convertToFormat(QImage::Format_RGB32));

    // SVG and PDF are vectors: the title, the legend and the axis labels of
    // this view are text in them.
    QFile svgFile(svg);
    QVERIFY(svgFile.open(QIODevice::ReadOnly));
    const QString svgText = QString::fromUtf8(svgFile.readAll());
    // The curves keep within the plot area, as in the window: they are
    // clipped to this view. Each group of the drawing has one pen.
    static const QRegularExpression polyline(QStringLiteral("<polyline[^>]* points=\"([^\"]*)\""));
    const QRectF inside = g.chart()->plotArea().adjusted(-1, -1, 1, 1);
    int curvePoints = 0;
    for (const QString& group : svgText.split(QStringLiteral("<g "))) {
        bool curve = false;
        for (int k = 1; k <= 3; ++k)
            curve = curve || group.startsWith(QStringLiteral("fill=\"none\" stroke=\"") +
                                              g.seriesColour(k).name());
        for (auto it = polyline.globalMatch(group); curve && it.hasNext();) {
            for (const QString& xy :
                 it.next().captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QStringList v = xy.split(QLatin1Char(','));
                QVERIFY2(inside.contains(QPointF(v.value(0).toDouble(), v.value(1).toDouble())),
                         qPrintable(xy));
                ++curvePoints;
            }
        }
    }
    QVERIFY(curvePoints > 6);
    QProcess pdfText;
    pdfText.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(pdfText.waitForFinished(30000));
    QCOMPARE(pdfText.exitCode(), 0);
    // The font joins "fi" into one glyph.
    const QString pdfWords = QString::fromUtf8(pdfText.readAllStandardOutput())
                                 .replace(QChar(0xFB01), QStringLiteral("fi"));
    const QStringList expected = {QStringLiteral("Grafic"), caption(rig, 1), QStringLiteral("100"),
                                  QStringLiteral("300"),    yLabels.front(), yLabels.back()};
    for (const QString& word : expected) {
        QVERIFY2(svgText.contains(QStringLiteral(">") + word.toHtmlEscaped() + QStringLiteral("<")),
                 qPrintable(word));
        QVERIFY2(pdfWords.contains(word), qPrintable(word));
    }
    QVERIFY(!pdfWords.contains(caption(rig, 4)));
}

void TestGraph::wheelZoomAndUndoToThisShowing() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 2000);
    TgraphView& g = showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    const View shown = viewOf(g);
    const QRectF area = g.chart()->plotArea();
    // A quarter across, a quarter down: that value stays under the cursor.
    const QPointF at = area.topLeft() + QPointF(area.width() * 0.3, area.height() * 0.3);
    const double xAt = shown.x0 + (shown.x1 - shown.x0) * 0.3;

    wheel(g, at, 1);
    View v = viewOf(g);
    QVERIFY(std::abs((shown.x1 - shown.x0) / (v.x1 - v.x0) - 1.2) < 1e-9);
    QVERIFY(std::abs((shown.y1 - shown.y0) / (v.y1 - v.y0) - 1.2) < 1e-9);
    QVERIFY(std::abs(v.x0 + (v.x1 - v.x0) * 0.3 - xAt) < 1e-6);
    // It ran as a zoom: edits follow, both axes fixed.
    QVERIFY(!g.xauto()->isChecked());
    QVERIFY(!g.yauto()->isChecked());
    verifyEditsMatchAxes(g);
    wheel(g, at, -2);
    v = viewOf(g);
    QVERIFY(std::abs((v.x1 - v.x0) / (shown.x1 - shown.x0) - 1.2) < 1e-9);

    // Wheel, rubber band and pan, then one undo: the view of the showing.
    drag(g, Qt::LeftButton, area.center(), area.bottomRight() - QPointF(20, 20));
    drag(g, Qt::MiddleButton, area.center(), area.center() + QPointF(60, 0));
    undoZoom(g);
    QCOMPARE(viewOf(g), shown);
    verifyEditsMatchAxes(g);
    // A pan alone is undone too.
    drag(g, Qt::MiddleButton, area.center(), area.center() + QPointF(60, 0));
    QVERIFY(!(viewOf(g) == shown));
    undoZoom(g);
    QCOMPARE(viewOf(g), shown);

    // A zoom left in place is forgotten with the showing: undo in the next
    // showing, over more data, returns to that showing's view.
    wheel(g, at, 3);
    g.close();
    append(rig, 2000, 3000);
    showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    const View again = viewOf(g);
    QVERIFY(!(again == shown));
    wheel(g, at, 1);
    undoZoom(g);
    QCOMPARE(viewOf(g), again);
}

void TestGraph::oneRowShowsItsPoint() {
    Rig rig;
    startRig(rig);
    rig.values.memory.AppendSample(makeRow(5.0, -3.0, 0.5, 7.0));
    TgraphView& g = showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    QCOMPARE(points(g, 1), (QList<QPointF>{{0.0, 5.0}}));
    // The axes hold the point, and it is drawn.
    QVERIFY(g.axisY()->min() <= -3.0 && g.axisY()->max() >= 7.0);
    const QImage image = ChartImage(g).toImage();
    const QRect plot = g.chart()->plotArea().toRect();
    for (int k = 1; k <= 4; ++k)
        QVERIFY2(pixelsOf(image, g.seriesColour(k), plot) > 4, qPrintable(QString::number(k)));
    // With a second row it is a line again.
    rig.values.memory.AppendSample(makeRow(6.0, -2.0, 0.5, 7.0));
    g.RefreshSeries();
    QVERIFY(g.series(1)->lightMarker().isNull());
    // Cleared meanwhile: the pictures of empty curves are made all the same.
    rig.values.memory.clear();
    g.RefreshSeries();
    for (auto format : {ChartImage::Format::Png, ChartImage::Format::Svg, ChartImage::Format::Pdf})
        QVERIFY(!ChartImage(g).encode(format).isEmpty());
}

void TestGraph::mainWindowKeysWorkHere() {
    Rig rig;
    // 10 s per sample: the stream adds nothing to the counts below.
    rig.writeSettings({QStringLiteral("SampleRate=12")});
    rig.startReady();
    append(rig, 0, 3);
    TgraphView& g = showGraph(rig);
    g.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&g));
    QSignalSpy startStop(rig.window().action(MenuItem::StartStopSampling), &QAction::triggered);
    QTest::keyClick(&g, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 1);
    QTest::keyClick(g.minx(), Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 2);

    // The live value window too.
    g.largeValues()->setChecked(true);
    tarvelo::gui::Tmesswerte& live = *rig.windows.live;
    live.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&live));
    QTest::keyClick(&live, Qt::Key_T, Qt::ControlModifier);
    QTRY_COMPARE(rig.values.memory.RowCount(), 4);

    // A modal dialog comes first.
    QDialog modal(&g);
    modal.setModal(true);
    modal.show();
    QVERIFY(QTest::qWaitForWindowActive(&modal));
    QTest::keyClick(&g, Qt::Key_S, Qt::AltModifier);
    QTest::keyClick(&modal, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 2);
}

void TestGraph::toolsLeaveTheViewToTheOperator() {
    Rig rig;
    startRig(rig);
    append(rig, 0, 2000);
    TgraphView& g = showGraph(rig);
    QTRY_VERIFY(!g.timer1()->isActive());
    const QRectF area = g.chart()->plotArea();
    const QPointF from = area.topLeft() + QPointF(area.width() / 4, area.height() / 4);
    const QPointF to = area.bottomRight() - QPointF(area.width() / 4, area.height() / 4);

    // A right click with nothing to undo changes nothing: the axes go on
    // scaling automatically (Auto-Refresh keeps following the data).
    const View shown = viewOf(g);
    undoZoom(g);
    QVERIFY(g.xauto()->isChecked());
    QVERIFY(g.yauto()->isChecked());
    QCOMPARE(viewOf(g), shown);

    // Zoom, Rescale, zoom: undo returns to the typed view, the new start.
    drag(g, Qt::LeftButton, from, to);
    g.minx()->setText(QStringLiteral("100"));
    g.maxx()->setText(QStringLiteral("1900"));
    g.miny()->setText(QStringLiteral("-3456788,75"));
    g.maxy()->setText(QStringLiteral("12345678.5"));
    QTest::mouseClick(g.doScale(), Qt::LeftButton);
    const View typed{100, 1900, -3456788.75, 12345678.5};
    QCOMPARE(viewOf(g), typed);
    undoZoom(g);  // nothing to undo since the Rescale
    QCOMPARE(viewOf(g), typed);
    drag(g, Qt::LeftButton, from, to);
    QVERIFY(!(viewOf(g) == typed));
    undoZoom(g);
    QCOMPARE(viewOf(g), typed);

    // The limit boxes show their whole values, and the controls beside them
    // move aside; short values give the boxes their normal width back.
    QCOMPARE(g.miny()->text(), QStringLiteral("-3456788.75"));
    for (QLineEdit* e : {g.minx(), g.maxx(), g.miny(), g.maxy()})
        QVERIFY2(showsWhole(e), qPrintable(e->text()));
    QVERIFY(g.maxx()->geometry().right() < g.miny()->geometry().left());
    QVERIFY(g.miny()->geometry().right() < g.maxy()->geometry().left());
    QVERIFY(g.maxy()->geometry().right() < g.doScale()->geometry().left());
    g.xauto()->setChecked(true);
    g.yauto()->setChecked(true);
    QCOMPARE(g.miny()->width(), 73);

    // "Image...": a name typed with the suffix of one of the formats is saved
    // in that format, whatever filter is chosen; another name gets the
    // chosen filter's suffix.
    QTemporaryDir dir;
    tarvelo::gui::StandardDialogs real;
    const QStringList filters =
        tarvelo::gui::shownText(tarvelo::app::ProgramText::GraphImageFilter, 1)
            .split(QStringLiteral(";;"));
    struct Case {
        int filter;
        const char* typed;
        const char* saved;
        const char* starts;
    };
    const Case cases[] = {{0, "a.svg", "a.svg", "<?xml"},
                          {2, "b.PNG", "b.PNG", "\x89PNG"},
                          {1, "c.pdf", "c.pdf", "%PDF"},
                          {1, "d", "d.svg", "<?xml"},
                          {2, "e.txt", "e.txt.pdf", "%PDF"}};
    for (const Case& c : cases) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->selectNameFilter(filters[c.filter]);
            emit dialog->filterSelected(filters[c.filter]);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QString::fromLatin1(c.typed));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        tarvelo::gui::saveChartImageAs(g, real, dir.path(), 1, QStringLiteral("Error"));
        QFile saved(dir.filePath(QString::fromLatin1(c.saved)));
        QVERIFY2(saved.open(QIODevice::ReadOnly), c.saved);
        QVERIFY2(saved.readAll().startsWith(c.starts), c.saved);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), qsizetype(std::size(cases)));
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
