// Every window shows every text whole, in each language and regional format:
// one walker checks each visible control's needed size against the room it
// was given, neighbours against overlap, and the chart's texts against what
// the axes and the legend show. With TARVELO_GALLERY set to a folder, the
// walk also writes a picture of every window there (scripts/gallery.sh).

#include <cmath>
#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>

#include "acquisition/mgauge.h"
#include "acquisition/samplelistheader.h"
#include "acquisition/samplelistmodel.h"
#include "acquisition/mmesswerte.h"
#include "analysis/chartimage.h"
#include "analysis/chartview.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "analysis/mrecording.h"
#include "analysis/recordingview.h"
#include "analysis/mstatistic.h"
#include "app/shown_text.h"
#include "files/csv_text.h"
#include "files/mexport.h"
#include "files/workbook.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::app::ProgramText;
using tarvelo::gui::shownText;
using tarvelo::guitest::Rig;

namespace {

// Real-looking data filling the whole memory: a narrow band around 1000
// (channel 1), a wide swing with negative values (channel 2), a channel
// that is not connected and a slowly drifting temperature.
void fillMemory(Rig& rig) {
    std::vector<tarvelo::acquisition::SampleRow> rows;
    const int count = tarvelo::acquisition::kMemoryCapacity;
    for (int i = 0; i < count; ++i) {
        const double t = i / 50.0;
        rows.push_back(tarvelo::test::makeRow(
            1000.25 + 0.375 * std::sin(t), -2500.125 + 98765.4321 * std::sin(t / 7), 0,
            21.5 + 0.25 * std::cos(t / 3), 1700000000000.0 + 10.0 * i));
    }
    rig.values.memory.load(rows);
    rig.window().listModel()->refill(rig.values.memory);
}

// A recording as tarvelo-cli writes it: two minutes at 1000 samples/s with
// units in the captions, a reconnect's gap and a last line cut short.
void writeRecording(const QString& path) {
    tarvelo::acquisition::SampleList captions;
    captions.setCaption(1, "Time");
    const char* names[] = {"Channel 1 (kN)", "Channel 2 (mm)", "Channel 3 (N.C.)",
                           "Channel 4 (\u00b0C)"};
    for (int k = 0; k < 4; ++k)
        captions.setCaption(k + 2, names[k]);
    std::string text = tarvelo::files::csvHeaderLine(captions);
    tarvelo::acquisition::SampleRow row{};
    for (int i = 0; i < 120000; ++i) {
        const double t = i / 1000.0;
        row.timeMs = 1765290000000.0 + i + (i >= 80000 ? 4000 : 0);
        row.channel[0] = std::round((1000.25 + 0.375 * std::sin(t)) * 1e5) / 1e5;
        row.channel[1] = std::round((-2500.125 + 98765.4321 * std::sin(t / 7)) * 1e5) / 1e5;
        row.channel[2] = 0;
        row.channel[3] = std::round((21.5 + 0.25 * std::cos(t / 3)) * 1e5) / 1e5;
        tarvelo::files::appendCsvLine(text, static_cast<uint64_t>(i) + 1, row);
    }
    text += "120001,2025-12-09T14:";
    QFile out(path);
    if (out.open(QIODevice::WriteOnly))
        out.write(text.data(), static_cast<qint64>(text.size()));
}

bool carriesPicture(const QLabel* label) {
    return !label->pixmap().isNull();
}

// The controls whose places the walk compares for overlap.
bool takesRoom(const QWidget* w) {
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return !carriesPicture(label) && !label->text().isEmpty();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QProgressBar*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

int widestLine(const QFontMetrics& metrics, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// What of one control's text is cut: empty when all of it shows.
QString cutText(const QWidget* w) {
    const QRect room = w->contentsRect();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (carriesPicture(label) || label->text().isEmpty())
            return {};
        const QFontMetrics fm = label->fontMetrics();
        if (label->wordWrap()) {
            for (const QString& word : label->text().split(QLatin1Char(' ')))
                if (fm.horizontalAdvance(word) > room.width())
                    return word;
            return label->heightForWidth(w->width()) > w->height() ? label->text() : QString();
        }
        const int lines = static_cast<int>(label->text().count(QLatin1Char('\n'))) + 1;
        if (widestLine(fm, label->text()) > room.width() - 2 * label->margin() ||
            lines * fm.height() > room.height() + 2)
            return label->text();
        return {};
    }
    if (const auto* push = qobject_cast<const QPushButton*>(w)) {
        // The style's minimum button width is no need of the text's.
        const int margin = 2 * push->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
        QString text = push->text();
        text.remove(QLatin1Char('&'));
        if (push->fontMetrics().horizontalAdvance(text) + margin > w->width())
            return push->text();
        return {};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return {};
        if (button->sizeHint().width() > w->width() || button->fontMetrics().height() > w->height())
            return button->text();
        return {};
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
        const int needed = group->fontMetrics().horizontalAdvance(group->title()) + 16;
        return needed > w->width() ? group->title() : QString();
    }
    if (const auto* header = qobject_cast<const QHeaderView*>(w)) {
        const int margin =
            2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int i = 0; i < header->count(); ++i) {
            const QString caption =
                header->model()->headerData(i, header->orientation()).toString();
            if (!header->isSectionHidden(i) && !caption.isEmpty() &&
                header->fontMetrics().horizontalAdvance(caption) + margin > header->sectionSize(i))
                return caption;
        }
    }
    return {};
}

// Spaces compared as spaces: the chart shows no-break ones as plain.
QString plain(QString s) {
    return s.replace(QChar(0x202F), QLatin1Char(' ')).replace(QChar(0xA0), QLatin1Char(' '));
}

// The chart's texts as shown: axis labels, title, legend.
QStringList chartTexts(QChart* chart) {
    QStringList shown;
    for (QGraphicsItem* item : chart->scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible())
            shown << plain(text->toPlainText());
    }
    return shown;
}

// The chart's texts that the chart shortened, and Y labels it does not show.
QStringList shortenedChartTexts(QChart* chart, const QStringList& yLabels) {
    const QStringList shown = chartTexts(chart);
    QStringList shortened;
    for (const QString& s : shown)
        if (s.endsWith(QLatin1String("...")) || s.endsWith(QChar(0x2026)))
            shortened << s;
    for (const QString& label : yLabels)
        if (!shown.contains(plain(label)))
            shortened << QStringLiteral("Y label %1 not shown").arg(label);
    return shortened;
}

// Every fault of one window: cut texts and overlapping neighbours.
QStringList faultsOf(const QString& name, QWidget* window) {
    QStringList faults;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (!w->isVisible() || (w != window && w->window() != window))
            continue;
        const QString cut = cutText(w);
        if (!cut.isEmpty())
            faults << QStringLiteral("%1/%2 cut: \"%3\" in %4x%5")
                          .arg(name, w->objectName(), cut)
                          .arg(w->width())
                          .arg(w->height());
        if (w == window || !takesRoom(w))
            continue;
        const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                          qobject_cast<QGroupBox*>(w);
        if (text && !w->parentWidget()->rect().contains(w->geometry()) &&
            w->parentWidget()->rect().intersects(w->geometry()) &&
            !qobject_cast<QAbstractScrollArea*>(w->parentWidget()->parentWidget()))
            faults
                << QStringLiteral("%1/%2 runs past its window's edge").arg(name, w->objectName());
        for (QWidget* other :
             w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other <= w || !other->isVisible() || !takesRoom(other))
                continue;
            if (w->geometry().intersects(other->geometry()))
                faults << QStringLiteral("%1/%2 overlaps %3")
                              .arg(name, w->objectName(), other->objectName());
        }
    }
    return faults;
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyWindowWhole_data();
    void everyWindowWhole();
    void longUnitKeepsChannelName();
    void yLabelsWholeOverRangesSizesAndFormats();

private:
    // Shows one window (prepare), checks it and hides it again (finish).
    void check(const QString& name, QWidget* window, const std::function<void()>& finish);
    void setLanguage(int language);

    std::unique_ptr<Rig> rig_;
    QStringList faults_;
    QString gallery_;
    QString round_;
};

void TestLayout::initTestCase() {
    gallery_ = qEnvironmentVariable("TARVELO_GALLERY");
    if (!gallery_.isEmpty())
        QDir().mkpath(gallery_);
    tarvelo::sim::InstrumentConfig config;
    config.units = {"kN", "mm", "",
                    "\xB0"
                    "C"};
    rig_ = std::make_unique<Rig>(true, config);
    rig_->writeSettings();
    rig_->startReady();
    fillMemory(*rig_);
    writeRecording(rig_->folder() + QStringLiteral("/run.csv"));
}

void TestLayout::cleanupTestCase() {
    rig_.reset();
    QLocale::setDefault(QLocale::c());
}

void TestLayout::everyWindowWhole_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("format");
    const char* languages[] = {"de", "en", "fr", "it"};
    for (int language = 0; language < 4; ++language)
        for (const char* format : {"C", "de_DE", "fr_FR"})
            QTest::addRow("%s %s", languages[language], format)
                << language << QString::fromLatin1(format);
}

void TestLayout::setLanguage(int language) {
    Rig& rig = *rig_;
    rig.values.settings.language = language;
    rig.window().ApplyLanguage();
    // As after the first contact: the channel captions carry their units.
    tarvelo::acquisition::SampleList& list = rig.window().sampleList();
    const char* units[] = {" (kN)", " (mm)", " (N.C.)", " (\u00b0C)"};
    for (int k = 1; k <= 4; ++k)
        list.setCaption(k + 1, list.channelCaption(k) + units[k - 1]);
    rig.window().listModel()->captionsChanged();
    rig.windows.graph->ApplyLanguage();
}

void TestLayout::check(const QString& name, QWidget* window, const std::function<void()>& finish) {
    QVERIFY2(QTest::qWaitForWindowExposed(window), qPrintable(name));
    QCoreApplication::processEvents();
    faults_ << faultsOf(name, window);
    if (!gallery_.isEmpty())
        window->grab().save(QDir(gallery_).filePath(round_ + QLatin1Char('-') + name + ".png"));
    if (finish)
        finish();
}

void TestLayout::everyWindowWhole() {
    QFETCH(int, language);
    QFETCH(QString, format);
    QLocale::setDefault(format == QLatin1String("C") ? QLocale::c() : QLocale(format));
    round_ =
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    setLanguage(language);
    faults_.clear();
    Rig& rig = *rig_;
    tarvelo::gui::ProgramWindows& w = rig.windows;
    rig.window().listModel()->refill(rig.values.memory);

    check(QStringLiteral("main"), &rig.window(), {});
    // The status bar while a recording runs after the stream was cut: the
    // notes beside the count must stay whole.
    {
        tarvelo::gui::ThauptFenster& main = rig.window();
        rig.dialogs.fileAnswers << rig.folder() + QStringLiteral("/layout.asc");
        main.action(tarvelo::app::MenuItem::RecordToFile)->trigger();
        QVERIFY(main.recording());
        main.streamResumed(-1);
        QTRY_VERIFY(!main.streamNoteLabel()->text().isEmpty());
        // The count replaces "Recording to FILE" at the stream thread's next
        // receive time-out, which a long path may outlast; it is posted here
        // as the thread posts it.
        const auto showsCount = [&main] {
            return !main.statusText().contains(QStringLiteral("layout.asc"));
        };
        main.samplesStored(rig.values.memory.WritePosition());
        QTRY_VERIFY(showsCount());
        check(QStringLiteral("main-recording-unknown"), &main, [&main] {
            main.clearStreamNote();
        });
        main.streamResumed(12345);
        QTRY_VERIFY(!main.streamNoteLabel()->text().isEmpty());
        QVERIFY(showsCount());
        check(QStringLiteral("main-recording"), &main, [&main] {
            main.action(tarvelo::app::MenuItem::RecordToFile)->trigger();
            main.clearStreamNote();
        });
    }
    for (QWidget* dialog : std::initializer_list<QWidget*>{w.config, w.initConnection, w.about,
                                                           w.exportForm, w.lineColor, w.stat}) {
        dialog->show();
        check(dialog->objectName(), dialog, [dialog] { dialog->hide(); });
    }
    w.gauge->start(100, language);
    w.gauge->setPosition(40);
    check(QStringLiteral("gauge"), w.gauge, [&w] { w.gauge->finish(); });

    // The graph as Auto-Refresh leaves it: all channels (a wide range), then
    // only the narrow band, whose label step is fine.
    w.graph->showGraph();
    QVERIFY(QTest::qWaitForWindowExposed(w.graph));
    for (int channels : {4, 1}) {
        for (int k = 2; k <= 4; ++k)
            w.graph->channelBox(k)->setChecked(k <= channels);
        w.graph->RefreshSeries();
        QCoreApplication::processEvents();
        if (channels == 4) {
            // The live values as the refresh fed them.
            w.graph->largeValues()->setChecked(true);
            check(w.live->objectName(), w.live,
                  [&w] { w.graph->largeValues()->setChecked(false); });
        }
        const QString name = QStringLiteral("graph%1").arg(channels);
        check(name, w.graph, {});
        for (const QString& s : shortenedChartTexts(w.graph->chart(), w.graph->yAxisLabels()))
            faults_ << name + QStringLiteral(" chart: ") + s;
        // X labels with the format's decimal separator.
        // Auto-Refresh would set the range back as soon as its timer fires
        // (sooner or later, by the machine's speed): it waits meanwhile.
        const bool refreshing = w.graph->timer2()->isActive();
        w.graph->timer2()->stop();
        w.graph->axisX()->setRange(0.5, 1.5);
        QCoreApplication::processEvents();
        const bool labelShown = chartTexts(w.graph->chart()).contains(QLocale().toString(1.4));
        if (refreshing)
            w.graph->timer2()->start();
        if (!labelShown)
            faults_ << name + QStringLiteral(" chart: no X label ") + QLocale().toString(1.4);
        // Thousands grouped with the format's own separator.
        const QString group = QLocale().groupSeparator();
        for (const QString& label : w.graph->yAxisLabels()) {
            if (label.startsWith(QLatin1String("1")) && label.size() > 4 &&
                label.mid(1, group.size()) != group && !label.contains(QLocale().decimalPoint()))
                faults_ << name + QStringLiteral(" Y label without grouping: ") + label;
        }
    }
    for (int k = 2; k <= 4; ++k)
        w.graph->channelBox(k)->setChecked(true);
    w.graph->close();

    // The recording window with its file open, the cursor on a sample.
    {
        tarvelo::gui::TrecordingWindow* recording =
            rig.window().openRecording(rig.folder() + QStringLiteral("/run.csv"));
        QTRY_VERIFY_WITH_TIMEOUT(recording->recording(), 30000);
        recording->resize(1000, 640);
        tarvelo::gui::RecordingView* view = recording->view();
        const QPointF over(view->plotArea().center());
        QMouseEvent move(QEvent::MouseMove, over, view->mapToGlobal(over), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        check(QStringLiteral("recording"), recording, [recording] { recording->close(); });
    }

    // The program's message boxes, built as the program builds them.
    const int lang = rig.values.settings.language.load();
    const QString detail =
        QStringLiteral("/home/operator/Messungen/Versuch 12.dat: Permission denied");
    const QList<std::pair<QString, QString>> boxes = {
        {QString::fromStdString(rig.values.uiText[27]),
         QString::fromStdString(rig.values.uiText[28])},
        {QString::fromStdString(rig.values.uiText[33]),
         QString::fromStdString(rig.values.uiText[34])},
        {shownText(ProgramText::SaveFailed, lang) + '\n' + detail, QStringLiteral("Error")},
        {shownText(ProgramText::PrintFailed, lang), QString::fromStdString(rig.values.uiText[34])},
        {shownText(ProgramText::RecordingTakeTooLong, lang)
             .arg(86400000)
             .arg(tarvelo::acquisition::kMemoryCapacity)
             .arg(QStringLiteral("8437") + QLocale().decimalPoint() + QStringLiteral("5"),
                  QStringLiteral("10") + QLocale().decimalPoint() + QStringLiteral("23 s")),
         shownText(ProgramText::RecordingTakeIntoMemory, lang)},
        {shownText(ProgramText::RecordingMemoryBusy, lang),
         shownText(ProgramText::RecordingTakeIntoMemory, lang)},
        {shownText(ProgramText::RecordingWorkbookTooLong, lang)
             .arg(tarvelo::files::kWorkbookRowLimit)
             .arg(86400000),
         QString::fromStdString(rig.values.uiText[34])},
    };
    int n = 0;
    for (const auto& [text, caption] : boxes) {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, &rig.window());
        box.setObjectName(QStringLiteral("message%1").arg(++n));
        box.show();
        check(box.objectName(), &box, {});
    }
    QVERIFY2(faults_.isEmpty(), qPrintable(faults_.join(QLatin1Char('\n'))));
}

void TestLayout::longUnitKeepsChannelName() {
    // A unit too long for its column is shortened at its end: the channel's
    // name stays readable and the whole caption is the column's tooltip. In
    // every language (Italian has no channel names: the unit's beginning).
    tarvelo::sim::InstrumentConfig config;
    config.units[1] = "ABCDEFGHIJKLMNOPQRST";
    const char* const names[] = {"Kanal 2", "Channel 2", "Canal 2", ""};
    for (int language = 0; language < 4; ++language) {
        Rig rig(true, config);
        rig.writeSettings({QStringLiteral("Language=%1").arg(language)});
        rig.startReady();
        auto* header =
            qobject_cast<tarvelo::gui::SampleListHeader*>(rig.window().listView()->header());
        QVERIFY(header);
        const QString caption = tarvelo::guitest::headerText(rig.window(), 3);
        QCOMPARE(caption, QLatin1String(names[language]) + QStringLiteral(" (ABCDEFGHIJKLMNOPQRST)"));
        QVERIFY(header->fontMetrics().horizontalAdvance(caption) > header->sectionSize(3));
        // What the section draws: the beginning and "…", within the section.
        const QString shown = header->shownCaption(3);
        QVERIFY2(shown.startsWith(caption.left(std::max<qsizetype>(4, qstrlen(names[language])))) &&
                     shown.endsWith(QChar(0x2026)),
                 qPrintable(shown));
        QVERIFY(header->fontMetrics().horizontalAdvance(shown) < header->sectionSize(3));
        QCOMPARE(header->shownCaption(2), tarvelo::guitest::headerText(rig.window(), 2));
        QCOMPARE(header->model()->headerData(3, Qt::Horizontal, Qt::ToolTipRole).toString(),
                 caption);
        if (!gallery_.isEmpty())
            rig.window().grab().save(
                QDir(gallery_).filePath(QStringLiteral("long-unit-%1.png").arg(language)));
    }
}

namespace {

// The Y labels drawn in the chart: its text items left of the plot area.
QStringList drawnYLabels(tarvelo::gui::TgraphView& g) {
    QStringList drawn;
    const qreal left = g.chart()->mapToScene(g.chart()->plotArea().topLeft()).x();
    for (QGraphicsItem* item : g.chart()->scene()->items()) {
        auto* text = dynamic_cast<QGraphicsTextItem*>(item);
        if (text && text->isVisible() && !text->toPlainText().isEmpty() &&
            text->sceneBoundingRect().right() <= left + 1)
            drawn << plain(text->toPlainText());
    }
    return drawn;
}

// What of the Y labels is not whole: shortened ones, and labels of the axis
// the chart does not draw.
QStringList yLabelFaults(tarvelo::gui::TgraphView& g) {
    const QStringList drawn = drawnYLabels(g);
    QStringList faults;
    for (const QString& s : drawn)
        if (s.contains(QLatin1String("...")) || s.contains(QChar(0x2026)))
            faults << s;
    for (const QString& label : g.yAxisLabels())
        if (!drawn.contains(plain(label)))
            faults << QStringLiteral("%1 not drawn").arg(label);
    return faults;
}

// Whether the chart shortens Y labels put at every multiple of `step` in the
// axis's range; the axis's own labels are put back afterwards.
bool shortensAtStep(tarvelo::gui::TgraphView& g, double step) {
    QCategoryAxis& y = *g.axisY();
    const QStringList own = y.categoriesLabels();
    QList<double> ownEnds;
    for (const QString& label : own)
        ownEnds << y.endValue(label);
    const double ownStart = y.startValue();
    auto put = [&y, &g](const QStringList& labels, const QList<double>& ends, double start) {
        for (const QString& label : y.categoriesLabels())
            y.remove(label);
        y.setStartValue(start);
        for (qsizetype i = 0; i < labels.size(); ++i)
            y.append(labels[i], ends[i]);
        g.chart()->layout()->activate();
    };
    QStringList labels;
    QList<double> ends;
    for (double i = std::ceil(y.min() / step - 1e-9); i <= std::floor(y.max() / step + 1e-9); ++i) {
        labels << QLocale().toString(i * step, 'f', 6);
        ends << i * step;
    }
    put(labels, ends, ends.value(0) - step);
    const bool shortened = !yLabelFaults(g).isEmpty();
    put(own, ownEnds, ownStart);
    return shortened;
}

// The 1-2-5 step just below `step` (1, 2, 5 times a power of ten).
double finerStep(double step) {
    const double decade = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / decade;
    return m < 1.5 ? decade / 2 : m < 3.5 ? decade : 2 * decade;
}

}  // namespace

void TestLayout::yLabelsWholeOverRangesSizesAndFormats() {
    // Y ranges from 1e-4 to 1e10 wide, below, around and above zero, on
    // plots from the smallest window to a tall one, in three regional
    // formats, right after a refresh (a printout draws the chart at once):
    // every label is drawn whole, on screen and in the "Image..." drawing,
    // and the step is the preferred one widened in 1-2-5 steps only as far
    // as the labels need (the finer step of the series would be shortened).
    Rig rig;
    rig.writeSettings();
    rig.startReady();
    tarvelo::gui::TgraphView& g = *rig.windows.graph;
    g.showGraph();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    for (int k = 2; k <= 4; ++k)
        g.channelBox(k)->setChecked(false);
    const QSize normal = g.size();
    const double spans[] = {1e-4, 6e-4, 2.5e-3, 0.04, 0.35, 2, 9.5, 10, 333, 7e5, 1e10};
    int cases = 0;
    int widened = 0;
    for (const char* format : {"C", "de_DE", "fr_FR"}) {
        QLocale::setDefault(QLocale(QLatin1String(format)));
        for (int height : {g.minimumSizeHint().height(), normal.height(), 1400}) {
            g.resize(normal.width(), height);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            for (double span : spans) {
                for (double lo : {-1e9, -2345.5, -span / 2, 0.0, 777.0, 1e9}) {
                    rig.values.memory.clear();
                    rig.values.memory.AppendSample(tarvelo::test::makeRow(lo, 0, 0, 0));
                    rig.values.memory.AppendSample(tarvelo::test::makeRow(lo + span, 0, 0, 0));
                    g.RefreshSeries();
                    const QString where = QStringLiteral("%1 %2 px: %3 + %4")
                                              .arg(QLatin1String(format))
                                              .arg(g.chart()->plotArea().height())
                                              .arg(lo)
                                              .arg(span);
                    const QStringList faults = yLabelFaults(g);
                    QVERIFY2(faults.isEmpty(),
                             qPrintable(where + ": " + faults.join(QLatin1String(" | "))));
                    ++cases;
                    const QStringList labels = g.yAxisLabels();
                    // Room for several labels on a plot of a normal size.
                    if (g.chart()->plotArea().height() > 200)
                        QVERIFY2(labels.size() >= 3, qPrintable(where));
                    if (labels.size() < 2 || !g.preferredYStep())
                        continue;
                    const double preferred = *g.preferredYStep();
                    const double first = g.axisY()->endValue(labels.front());
                    const double last = g.axisY()->endValue(labels.back());
                    const double step = (last - first) / double(labels.size() - 1);
                    // Values near 1e9 carry only a few digits of a fine step.
                    const double tolerance = 1e-6 + 1e-15 * std::abs(first) / step;
                    const double times = step / preferred;
                    const double decade = std::pow(10.0, std::floor(std::log10(times) + tolerance));
                    const double m = times / decade;
                    QVERIFY2(times > 1 - tolerance &&
                                 (std::abs(m - 1) < tolerance || std::abs(m - 2) < tolerance ||
                                  std::abs(m - 5) < tolerance),
                             qPrintable(where + QStringLiteral(": step %1").arg(step)));
                    if (times > 1 + tolerance) {
                        ++widened;
                        const double exact = decade * std::round(m) * preferred;
                        QVERIFY2(
                            shortensAtStep(g, finerStep(exact)),
                            qPrintable(where +
                                       QStringLiteral(": step %1 wider than needed").arg(step)));
                    }
                    // The picture the operator saves: every label whole in it too.
                    if (cases % 7 == 0) {
                        const QString svg =
                            plain(QString::fromUtf8(tarvelo::gui::ChartImage(g).encode(
                                tarvelo::gui::ChartImage::Format::Svg)));
                        QVERIFY2(
                            !svg.contains(QLatin1String("...")) && !svg.contains(QChar(0x2026)),
                            qPrintable(where));
                        for (const QString& label : labels)
                            QVERIFY2(svg.contains(QLatin1Char('>') + plain(label).toHtmlEscaped() +
                                                  QLatin1Char('<')),
                                     qPrintable(where + QStringLiteral(": ") + label));
                    }
                }
            }
        }
    }
    QVERIFY(widened > 20);
    QLocale::setDefault(QLocale::c());
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
